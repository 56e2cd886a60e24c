#pragma once

// The operation log: an append-only text file with one line per document operation. It is
// written only when a log path is set and the logging switch of the process-wide settings
// record is on. The system sets neither, so the log stays off unless a caller turns it on.
// A log grown past 10,000,000 bytes is restarted empty before the next line.

#include <cstdint>
#include <string>
#include <string_view>

inline constexpr long OperationLogLimitBytes = 10'000'000;

// Sets the log file's path; empty turns the log off.
void OperationLogSetPath(std::string path);

// Points the log at the logging switch of the current settings record, or at nothing (null)
// when no record exists. The record's owner calls this as it creates and deletes the record.
void OperationLogSetSwitch(const std::uint8_t* loggingSwitch);

// Appends the line unchanged when logging is on. A log that cannot be opened or written is
// passed over: the operation that logs goes on.
void AppendToLogFile(std::string_view line);
