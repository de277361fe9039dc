// Ctrl+R: the running picture recorded from the tap on its capture stream (media/stream_tap.h)
// into an AVI file, as one more subscriber of the tap. The camera's thread only hands each
// sample to the recorder, which copies it and never waits.
#pragma once

#include "framework/object.h"
#include "media/stream_tap.h"
#include "record/recorder.h"

#include <memory>
#include <string>

class CPictureRecording final : public IStreamTapSubscriber, private CNoCopy {
public:
    // Ends a recording still running, as Stop does.
    ~CPictureRecording();

    // Records the tap's stream into a new file in the folder, named after the time it starts
    // ("Lookwell yyyy-mm-dd hh-mm-ss.avi", a number added where that name is taken). frameTime is
    // the format's interval (a capability's where its media type states none). False with the
    // reason when nothing could be started.
    bool Start(const std::shared_ptr<CStreamTap>& pTap, LONGLONG frameTime, bool bUncompressed,
               const std::wstring& folder, std::wstring& error);
    // Ends the recording: no more samples, then the file finished within nDeadlineMs.
    void Stop(DWORD nDeadlineMs);

    bool IsRecording() const { return m_pRecorder != nullptr; }
    // The tap it records from; null when not recording.
    const CStreamTap* Tap() const { return m_pTap.get(); }
    const std::wstring& File() const { return m_file; }
    // The writer ended on its own (a failed write, the disk filling): why is in the status.
    bool HasEnded() const;
    void GetStatus(CRecorderStatus& status) const;

    void OnTapSample(const CTapSample& sample) noexcept override;

private:
    std::shared_ptr<CStreamTap> m_pTap;
    std::unique_ptr<CRecorder> m_pRecorder;
    // The last status, kept for the information window after the end.
    CRecorderStatus m_final;
    std::wstring m_file;
};

// The name a recording started at that time gets, with its number where n > 1.
std::wstring RecordingFileName(const SYSTEMTIME& st, int n);
