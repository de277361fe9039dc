#include "record/record_sink.h"

namespace {

// {5B7E2C91-4A3D-4E8F-9C16-2D8B3F6A7E05}
const CLSID CLSID_LookwellRecordSink = {
    0x5b7e2c91, 0x4a3d, 0x4e8f, {0x9c, 0x16, 0x2d, 0x8b, 0x3f, 0x6a, 0x7e, 0x05}};

} // namespace

HRESULT CRecordSink::Create(CSinkRef<CRecordSink>& sink) {
    return sink.Create(CLSID_LookwellRecordSink, L"Record Sink");
}

bool CRecordSink::Ended() const {
    CSingleLock lock(m_lock);
    return m_bEnded;
}

HRESULT CRecordSink::OnSample(const CSampleView& sample) noexcept {
    m_recorder.OnSample(sample);
    return S_OK;
}

void CRecordSink::OnEndOfStream() noexcept {
    CSingleLock lock(m_lock);
    m_bEnded = true;
}
