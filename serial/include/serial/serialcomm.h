// The serial connection the main window owns, and the reader thread that polls its port.
#pragma once

#include "serial/commport.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace dielmon {

class DebugLog;

// What the reader thread hands its findings to. Every call comes on the reader thread, which
// reads nothing more until the call has returned.
class ReceiveHandler {
public:
    virtual ~ReceiveHandler() = default;
    // A chunk of 1 to kRecvBufSize bytes just read from the port.
    virtual void Receive(const std::uint8_t* data, int count) = 0;
    // The connection is going away: a hand-over the reader may be waiting in must let it go
    // at once. Called on the thread that destroys the connection.
    virtual void CancelHandOver() {}
    // The device of the open port has gone; called once for each handle that vanishes.
    virtual void LineLost() {}
};

// The receive callback: the handler the reader thread calls, or none. A handler must outlive
// the connection it is given to.
using TReceiveCallback = ReceiveHandler*;

// The reader thread. It exists from construction, waits until Resume, then polls the port
// every 50 ms until terminated. Its handle, port and callback are set from the window's
// thread and read on each pass.
class TCommThread {
public:
    static constexpr std::chrono::milliseconds kPollInterval{50};

    TCommThread();
    ~TCommThread(); // terminates and joins
    TCommThread(const TCommThread&) = delete;
    TCommThread& operator=(const TCommThread&) = delete;

    // Also returns only when no read on the previous handle is in progress, so that the caller
    // may close that handle at once.
    void SetHandle(CommHandle handle);
    void SetPort(const TCommPort* port);
    void SetCallback(TReceiveCallback callback);
    TReceiveCallback Callback() const { return FCallback.load(); }

    // Starts polling; no effect when it already polls or has been terminated.
    void Resume();
    // Sets the stop flag; the thread ends after its current pass, at once when it is idle.
    void Terminate();
    // Waits until the thread has ended; call after Terminate.
    void WaitFor();

    std::thread::id ThreadId() const { return FThread.get_id(); }
    // Passes made, reads attempted on a port and bytes taken from it, for watching the thread
    // from outside.
    std::uint64_t Passes() const { return FPasses.load(); }
    std::uint64_t Reads() const { return FReads.load(); }
    std::uint64_t BytesRead() const { return FBytesRead.load(); }

private:
    void Execute();
    void Poll();

    std::atomic<CommHandle> FHandle{0};
    std::atomic<const TCommPort*> FPort{nullptr};
    std::atomic<TReceiveCallback> FCallback{nullptr};

    std::mutex FWakeLock; // with FWake, lets Resume and Terminate end a wait at once
    std::condition_variable FWake;
    std::atomic<bool> FStarted{false};
    std::atomic<bool> FTerminated{false};

    // Held while reading from FHandle, so that a handle is never closed, and its number given
    // to another file, while the reader uses it.
    std::mutex FReadLock;
    bool FLineLost = false; // FHandle has vanished; guarded by FReadLock

    std::atomic<std::uint64_t> FPasses{0};
    std::atomic<std::uint64_t> FReads{0};
    std::atomic<std::uint64_t> FBytesRead{0};
    std::thread FThread; // last, so that it starts after everything it uses
};

// The serial connection: opens the port, lets the reader thread hand received bytes to the
// receive callback, writes and traces outgoing frames, closes the port. All its operations
// are called from one thread, the window's.
class TSerialComm {
public:
    // Outgoing frames are traced into `log`, which must outlive the connection.
    explicit TSerialComm(DebugLog& log);
    // Stops the reader, lets a waiting hand-over go, closes the port and joins the reader.
    ~TSerialComm();
    TSerialComm(const TSerialComm&) = delete;
    TSerialComm& operator=(const TSerialComm&) = delete;

    void SetReceiveCallback(TReceiveCallback callback);
    // Opens the port (see TCommPort::OpenComm) and starts the reader, even when the open
    // failed. True when the port is open.
    bool Open(const std::string& path, std::uint32_t baud, std::uint8_t byteSize,
              std::uint8_t parity, std::uint8_t stopBits, std::uint8_t flowKind);
    // Writes count bytes and traces them as a "sent" line, also when no port is open, which
    // makes the result false.
    bool Send(const std::uint8_t* buffer, int count);
    // True when a port was open and has been closed.
    bool Close();

    // Why the last Open failed, where someone else holds the port or the user may not open it.
    const PortRefusal& LastRefusal() const { return FRefusal; }

    bool IsOpen() const { return FHandle != 0; }
    CommHandle Handle() const { return FHandle; }
    const TCommThread& Thread() const { return FThread; }

private:
    DebugLog& FLog;
    CommHandle FHandle = 0;
    PortRefusal FRefusal;
    TCommPort FPort;
    TCommThread FThread;
};

} // namespace dielmon
