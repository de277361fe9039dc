// /record:FILE: the camera's stream recorded to an AVI file from the command line, without a
// window or a renderer, until Ctrl+C or for /seconds:N.
#pragma once

#include "record/recorder.h"
#include "tools/command_line.h"

// The longest /seconds: of a recording: a day.
constexpr DWORD kMostRecordSeconds = 86400;

// A progress line on standard error, updated in place, and one line at the end. 0 when the whole
// time was recorded (or until Ctrl+C), 1 when the recording stopped early (the camera stopped or
// went silent, a write failed, the disk filled), 2 when nothing could be recorded.
int RunRecordSwitch(const CCommandLine& options);

// "0:05", "1:02:03": a recording's time as the progress line shows it.
std::wstring RecordTimeText(LONGLONG duration);
// "12.3 MB": a recording's size.
std::wstring RecordSizeText(ULONGLONG nBytes);
// Why the writer ended a recording before it was stopped, or empty.
std::wstring RecordEndText(const CRecorderStatus& status);
