#include "serial/serialcomm.h"

#include "core/frame.h"
#include "core/log.h"

namespace dielmon {

TCommThread::TCommThread() : FThread([this] { Execute(); }) {}

TCommThread::~TCommThread() {
    Terminate();
    WaitFor();
}

void TCommThread::SetHandle(CommHandle handle) {
    std::lock_guard<std::mutex> guard(FReadLock);
    FHandle.store(handle);
    FLineLost = false;
}

void TCommThread::SetPort(const TCommPort* port) {
    FPort.store(port);
}

void TCommThread::SetCallback(TReceiveCallback callback) {
    FCallback.store(callback);
}

void TCommThread::Resume() {
    {
        std::lock_guard<std::mutex> guard(FWakeLock);
        FStarted.store(true);
    }
    FWake.notify_all();
}

void TCommThread::Terminate() {
    {
        std::lock_guard<std::mutex> guard(FWakeLock);
        FTerminated.store(true);
    }
    FWake.notify_all();
}

void TCommThread::WaitFor() {
    if (FThread.joinable()) {
        FThread.join();
    }
}

void TCommThread::Execute() {
    std::unique_lock<std::mutex> lock(FWakeLock);
    FWake.wait(lock, [this] { return FStarted.load() || FTerminated.load(); });
    while (!FWake.wait_for(lock, kPollInterval, [this] { return FTerminated.load(); })) {
        lock.unlock();
        Poll();
        lock.lock();
    }
}

void TCommThread::Poll() {
    FPasses.fetch_add(1);
    std::uint8_t buffer[kRecvBufSize] = {};
    int count = 0;
    ReadStatus status = ReadStatus::Nothing;
    {
        std::lock_guard<std::mutex> guard(FReadLock);
        const TCommPort* port = FPort.load();
        const CommHandle handle = FHandle.load();
        if (port == nullptr || handle == 0 || FLineLost) {
            return;
        }
        FReads.fetch_add(1);
        status = port->ReadCommStatus(handle, buffer, count);
        if (status == ReadStatus::Data) {
            FBytesRead.fetch_add(static_cast<std::uint64_t>(count));
        }
        // A vanished handle is not polled again: it would only fail the same way each pass.
        FLineLost = status == ReadStatus::Vanished;
    }
    TReceiveCallback callback = FCallback.load();
    if (callback == nullptr) {
        return; // bytes read without a callback are dropped
    }
    if (status == ReadStatus::Data) {
        callback->Receive(buffer, count);
    } else if (status == ReadStatus::Vanished) {
        callback->LineLost();
    }
}

TSerialComm::TSerialComm(DebugLog& log) : FLog(log) {}

TSerialComm::~TSerialComm() {
    FThread.Terminate();
    if (TReceiveCallback callback = FThread.Callback()) {
        callback->CancelHandOver();
    }
    Close();
    FThread.WaitFor();
}

void TSerialComm::SetReceiveCallback(TReceiveCallback callback) {
    FThread.SetCallback(callback);
}

bool TSerialComm::Open(const std::string& path, std::uint32_t baud, std::uint8_t byteSize,
                       std::uint8_t parity, std::uint8_t stopBits, std::uint8_t flowKind) {
    // A port still open would otherwise stay locked by its lost handle until the program ends.
    Close();
    FHandle = FPort.OpenComm(path, baud, byteSize, parity, stopBits, flowKind, &FRefusal);
    FThread.SetHandle(FHandle);
    FThread.SetPort(&FPort);
    FThread.Resume();
    return FHandle != 0;
}

bool TSerialComm::Send(const std::uint8_t* buffer, int count) {
    if (buffer == nullptr || count < 0) {
        count = 0;
    }
    const bool written = FPort.WriteComm(FHandle, buffer, count);
    FLog.WriteLog(SentTraceText(buffer, count));
    return written;
}

bool TSerialComm::Close() {
    if (FHandle == 0) {
        return false;
    }
    FThread.SetHandle(0);
    FPort.CloseComm(FHandle);
    FHandle = 0;
    return true;
}

} // namespace dielmon
