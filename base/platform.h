// The platform layer: the one place in base/ (with the file functions) that calls the OS for
// time, code pages, the temporary directory, random bytes, error texts and sleeping.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quillon {

inline constexpr int kCodePageUtf8 = 65001;
inline constexpr int kCodePageOem = 437;

// Milliseconds of CLOCK_MONOTONIC, truncated to 32 bits.
uint32_t TickCount();

// The ANSI code page: 65001 unless a test set another one.
int AnsiCodePage();
// 437.
int OemCodePage();
// Process-wide override of the ANSI code page (tests run with 1252); 0 restores the default.
void SetAnsiCodePageForTests(int codePage);

// $TMPDIR when set and non-empty, else /tmp, always with a trailing "/".
std::string TempDirectory();
std::string CurrentDirectory();

// Fills the buffer from the kernel's random source (getrandom); false when it fails.
bool CryptoRandomBytes(void* buffer, size_t length);

// The calling thread's last error (errno).
int LastSystemError();
// The system's message text for an error code (errno value), without a trailing line end.
std::string SystemErrorText(int code);

// The eight 16-bit fields of a calendar time.
struct SystemTime {
  uint16_t year = 0;
  uint16_t month = 0;      // 1-12
  uint16_t dayOfWeek = 0;  // 0 = Sunday
  uint16_t day = 0;        // 1-31
  uint16_t hour = 0;
  uint16_t minute = 0;
  uint16_t second = 0;
  uint16_t milliseconds = 0;
};

SystemTime LocalTimeNow();
SystemTime UtcTimeNow();
// Minutes to add to local time to get UTC (Windows' bias: UTC = local + bias).
int TimeZoneBiasMinutes();

void SleepMs(uint32_t milliseconds);

}  // namespace quillon
