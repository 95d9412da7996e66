// The developer's diagnostic transcript: each call becomes one line posted, four
// characters a message, to a viewer window of class "TTranscriptClient" if one runs.
// Nothing is written to disk; without a viewer the line is dropped.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

namespace gatemoor {

// Records one line. Never blocks, never fails: always answers true.
bool Transcript(std::string_view service, std::string_view text, std::uint8_t level,
                bool isError);

// The eight values of the settings section "Transcript"; defaults as the program starts.
struct TranscriptSettings {
    bool sendAnything = true;        // "TransSendAnything"
    bool sendErrorsOnly = false;     // "TransSendErrorsOnly"
    int minimumLevel = 1;            // "MinimumTranscriptLevel"
    int beepOnErrorLevel = 0;        // "TransBeepOnErrorLevel"
    bool sendMemory = false;         // "TransSendMemory"
    bool sendUdp = true;             // "TransSendUDP" (stored only)
    int compressUdp = 0;             // "TransCompressUDP" (stored only)
    int udpPacketSize = 512;         // "TransUDPPacketSize" (stored only)
};

// Process-wide settings; read without a lock by every call.
[[nodiscard]] TranscriptSettings CurrentTranscriptSettings();
void SetTranscriptSettings(const TranscriptSettings& settings);
// Module start: reads the eight values; missing or unreadable ones keep their defaults.
void LoadTranscriptSettings();
// The diagnostics menu's change of one value: applies it and writes it back.
void SaveTranscriptSettings();

// The sequence number of the last line produced (0 before the first).
[[nodiscard]] std::int32_t TranscriptLinesProduced();

// Raised by the main window around every message its window procedure handles; lines
// made meanwhile get "." (main thread) or "," (other threads) in front.
void SetInsideMessageDispatch(bool inside);
[[nodiscard]] bool InsideMessageDispatch();

// Message numbers of the viewer protocol (WM_USER + offset).
namespace transcript_protocol {
inline constexpr std::uint32_t kBegin = 0x466;
inline constexpr std::uint32_t kId = 0x467;
inline constexpr std::uint32_t kThreadId = 0x468;
inline constexpr std::uint32_t kCpuTime = 0x4A4;
inline constexpr std::uint32_t kProcessId = 0x4A5;
inline constexpr std::uint32_t kMemoryFirst = 0x4A6;  // eight values up to 0x4AD
inline constexpr std::uint32_t kMemoryLast = 0x4AD;
inline constexpr std::uint32_t kService = 0x469;
inline constexpr std::uint32_t kText = 0x46B;
inline constexpr std::uint32_t kLevel = 0x46C;
inline constexpr std::uint32_t kIsError = 0x46D;
inline constexpr std::uint32_t kEnd = 0x46E;
inline constexpr const char* kViewerClass = "TTranscriptClient";
}  // namespace transcript_protocol

}  // namespace gatemoor
