// Each served device has one thread that owns its pipe instances and waits on them with
// overlapped I/O: a listening instance, and one instance per connected handle of the program.
//
// The pipes have no buffers of their own, so a program's write stays pending until the server
// takes the request off the pipe, and the server's reply stays pending until the program reads
// it. That gives the things a HID device does and a buffered pipe would not:
// - a refused request fails the program's WriteFile itself: the server looks at the request
//   (PeekNamedPipe) before taking it, and disconnects that instance instead, so the pending write
//   fails (ERROR_PIPE_NOT_CONNECTED, 233) and every later read and write on that handle fails too;
// - each connection has its own queue of input reports (at most 32, the oldest dropped, as the
//   class driver's per-handle buffers), and every reply of the unit is queued on every connection
//   open at the time, whichever handle made the request; one report at a time is offered to the
//   pipe, the rest wait in the queue;
// - our HidD_FlushQueue writes RIG_FLUSH_REQUEST; the server drops that connection's queue (and
//   cancels the report being offered) before it takes the request off the pipe, so the flush is
//   over when the program's write completes;
// - the transcript's repliedAtUs is the moment the handle that made the request read the reply (or
//   flushed it), not the moment the unit had it ready.
// A reply the model loses (FailRead) disconnects the instance of its request, so the program's
// read fails (233). Vanish and rigUnplug take the device out of the units file first, then
// disconnect and close every server end of the device: every write and read on its handles fails
// from then on, also one already waiting, and our HID library reports that as
// ERROR_DEVICE_NOT_CONNECTED (1167) in the program (hidstack/hid.cpp).
#include "tests/wine/rig/sim_server.h"

#include "tests/wine/hidstack/units_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <deque>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// Held by a running server for its whole life: a second server in the same prefix, or one left
// over from an earlier run, cannot create it and fails at start.
constexpr wchar_t SERVER_PIPE[] = L"\\\\.\\pipe\\quenlor-rig-simulator";
// Several instances listen at any time: a program that opens the device again at once finds the
// next one while this thread is still replacing the first. Opening fails (ERROR_PIPE_BUSY) only
// when none listens, which only a program opening it in a tight loop could bring about.
constexpr DWORD LISTENERS = 4;
constexpr DWORD MAX_CONNECTIONS = 24;  // 2 wait handles each, within MAXIMUM_WAIT_OBJECTS
constexpr DWORD REQUEST_BYTES_MAX = 1024;
constexpr DWORD TAKE_REQUEST_WAIT_MS = 1000;  // the request is already in the pipe
constexpr DWORD SETTLE_WAIT_MS = 2000;
constexpr DWORD READY_WAIT_MS = 5000;
// A pipe name stays taken until every handle of its last instance is closed: a simulator or a
// program that is still ending (a killed program, a test program that has just exited) frees it
// a moment later. Starting waits that long for it, and no longer.
constexpr DWORD GONE_POLL_MS = 10;
constexpr std::uint64_t NEVER = UINT64_MAX;
// The HID class driver keeps 32 input reports per handle unless told otherwise, and drops the
// oldest when another one comes.
constexpr std::size_t INPUT_REPORTS_PER_HANDLE = 32;

// One handle's copy of an input report. Only the copy on the handle that made the request stamps
// the transcript when it is read (or flushed).
struct QueuedReply {
    std::uint32_t requestIndex = 0;
    std::vector<std::uint8_t> bytes;
    bool stampsTranscript = false;
};

// One connected handle of the program. Its OVERLAPPED structures must not move while I/O is
// pending, so connections are held by pointer.
struct Connection {
    HANDLE pipe = INVALID_HANDLE_VALUE;
    OVERLAPPED readOverlapped = {};  // a zero-byte read: completes when a request is waiting
    bool readPending = false;
    OVERLAPPED writeOverlapped = {};
    bool writePending = false;
    HANDLE takeEvent = nullptr;  // for taking a request off the pipe, which completes at once
    QueuedReply writing;
    std::deque<QueuedReply> queued;
    std::vector<std::uint32_t> openRequests;  // transcript indices whose replies go to this handle
};

struct ServedDevice {
    int number = 0;
    RigDevice device;
    std::wstring path;
    bool present = false;  // listed in the units file
    SimUnit unit;          // under RigServer::lock
    SimUnit settledCopy;   // the unit as the thread left it when it last answered settle; under the lock
    HANDLE stop = nullptr;     // set to make the device's thread close everything and end
    HANDLE settle = nullptr;   // asks the thread to account for every reply the program has read
    HANDLE settled = nullptr;  // its answer
    HANDLE ended = nullptr;    // set when the thread has ended
    HANDLE ready = nullptr;    // set when every listener of the thread listens
    HANDLE firstInstance = INVALID_HANDLE_VALUE;  // handed to the thread when it starts
    std::thread thread;
};

struct RigServer {
    std::mutex lock;  // the units' state, the device list and the units file
    bool running = false;
    std::wstring unitsFile;
    HANDLE serverPipe = INVALID_HANDLE_VALUE;
    int lastNumber = 0;
    std::vector<std::unique_ptr<ServedDevice>> devices;
};

RigServer Server;

std::uint64_t queryPerformanceFrequency() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<std::uint64_t>(frequency.QuadPart);
}

ServedDevice* findDevice(int number) {
    for (auto& device : Server.devices) {
        if (device->number == number) return device.get();
    }
    return nullptr;
}

// Rewrites the units file from the present devices, in plug order. Called under the lock.
bool publishUnits() {
    UnitsList list;
    for (const auto& device : Server.devices) {
        if (!device->present) continue;
        if (list.count == UNITS_MAX || device->path.size() >= UNITS_PATH_CHARS) return false;
        UnitsEntry& entry = list.entries[list.count++];
        std::wcsncpy(entry.path, device->path.c_str(), UNITS_PATH_CHARS - 1);
        entry.vendorId = device->device.config.vendorId;
        entry.productId = device->device.config.productId;
        entry.inputReportLength = device->device.config.inputReportLength;
        entry.outputReportLength = device->device.config.outputReportLength;
    }
    if (unitsFileWrite(Server.unitsFile.c_str(), list)) return true;
    std::fprintf(stderr, "rig: cannot write the units file %ls (error %lu)\n", Server.unitsFile.c_str(), GetLastError());
    return false;
}

// Whether CreateNamedPipeW failed because another server's instance of the name is still open.
bool nameStillTaken(DWORD error) { return error == ERROR_ACCESS_DENIED || error == ERROR_PIPE_BUSY; }

// Creates the first instance of a pipe name, waiting up to waitMs for an earlier owner of the name
// to go. On failure the last error is that of the last try; *waitedMs says how long it waited.
HANDLE createFirstInstanceOnceFree(const std::wstring& path, DWORD openMode, DWORD pipeMode, DWORD instances,
                                   DWORD waitMs, DWORD* waitedMs) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        const HANDLE pipe = CreateNamedPipeW(path.c_str(), openMode | FILE_FLAG_FIRST_PIPE_INSTANCE, pipeMode,
                                             instances, 0, 0, 0, nullptr);
        const DWORD error = GetLastError();
        *waitedMs = static_cast<DWORD>(GetTickCount64() - start);
        if (pipe != INVALID_HANDLE_VALUE || !nameStillTaken(error) || *waitedMs >= waitMs) {
            SetLastError(error);
            return pipe;
        }
        Sleep(GONE_POLL_MS);
    }
}

constexpr DWORD DEVICE_OPEN_MODE = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED;
constexpr DWORD DEVICE_PIPE_MODE = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT;

HANDLE createInstance(const std::wstring& path) {
    // No buffers: see the top of this file.
    return CreateNamedPipeW(path.c_str(), DEVICE_OPEN_MODE, DEVICE_PIPE_MODE, PIPE_UNLIMITED_INSTANCES, 0, 0, 0,
                            nullptr);
}

void waitForPending(HANDLE pipe, OVERLAPPED* overlapped) {
    DWORD transferred = 0;
    GetOverlappedResult(pipe, overlapped, &transferred, TRUE);
}

// An instance waiting for the program to open the device.
struct Listener {
    HANDLE pipe = INVALID_HANDLE_VALUE;
    OVERLAPPED overlapped = {};
    bool pending = false;    // ConnectNamedPipe is waiting
    bool connected = false;  // a handle arrived: the instance becomes a connection
};

// Everything the device's thread owns.
struct DeviceThread {
    ServedDevice* device = nullptr;
    Listener listeners[LISTENERS];
    std::vector<std::unique_ptr<Connection>> connections;
    std::uint64_t nextReplyAtUs = NEVER;
};

void closeConnection(Connection& connection) {
    CancelIoEx(connection.pipe, nullptr);
    if (connection.readPending) waitForPending(connection.pipe, &connection.readOverlapped);
    if (connection.writePending) waitForPending(connection.pipe, &connection.writeOverlapped);
    DisconnectNamedPipe(connection.pipe);
    CloseHandle(connection.pipe);
    CloseHandle(connection.readOverlapped.hEvent);
    CloseHandle(connection.writeOverlapped.hEvent);
    CloseHandle(connection.takeEvent);
    connection.pipe = INVALID_HANDLE_VALUE;
}

void dropClosedConnections(DeviceThread& self) {
    auto& list = self.connections;
    list.erase(std::remove_if(list.begin(), list.end(),
                              [](const std::unique_ptr<Connection>& c) { return c->pipe == INVALID_HANDLE_VALUE; }),
               list.end());
}

// Waits for the next request on the connection; false when the program has closed its end.
bool armRead(Connection& connection) {
    ResetEvent(connection.readOverlapped.hEvent);
    std::uint8_t none = 0;
    if (!ReadFile(connection.pipe, &none, 0, nullptr, &connection.readOverlapped)) {
        const DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING && error != ERROR_MORE_DATA) return false;
    }
    connection.readPending = true;  // the event is set also when the read completed at once
    return true;
}

// Starts writing the next queued reply; false when the connection broke.
bool startWrite(Connection& connection) {
    if (connection.writePending || connection.queued.empty()) return true;
    connection.writing = std::move(connection.queued.front());
    connection.queued.pop_front();
    ResetEvent(connection.writeOverlapped.hEvent);
    if (!WriteFile(connection.pipe, connection.writing.bytes.data(), static_cast<DWORD>(connection.writing.bytes.size()),
                   nullptr, &connection.writeOverlapped) &&
        GetLastError() != ERROR_IO_PENDING) {
        return false;
    }
    connection.writePending = true;
    return true;
}

Connection* connectionOf(DeviceThread& self, std::uint32_t requestIndex) {
    for (auto& connection : self.connections) {
        auto& open = connection->openRequests;
        const auto found = std::find(open.begin(), open.end(), requestIndex);
        if (found == open.end()) continue;
        open.erase(found);
        return connection->pipe != INVALID_HANDLE_VALUE ? connection.get() : nullptr;
    }
    return nullptr;
}

// The unit has vanished: it leaves the units file, and the thread ends, closing every server end.
void markVanished(DeviceThread& self) {
    std::lock_guard<std::mutex> guard(Server.lock);
    if (self.device->present) {
        self.device->present = false;
        publishUnits();
    }
}

// The reply was taken by the handle that asked for it: read by the program, or thrown away by its
// HidD_FlushQueue.
void stampReplied(DeviceThread& self, const QueuedReply& reply) {
    if (!reply.stampsTranscript) return;
    std::lock_guard<std::mutex> guard(Server.lock);
    auto& transcript = self.device->unit.transcript;
    if (reply.requestIndex < transcript.size()) transcript[reply.requestIndex].repliedAtUs = rigNowUs();
}

// The program has read the reply being written: that is when the unit's reply was taken.
void finishWrite(DeviceThread& self, Connection& connection) {
    connection.writePending = false;
    DWORD written = 0;
    if (GetOverlappedResult(connection.pipe, &connection.writeOverlapped, &written, FALSE)) {
        stampReplied(self, connection.writing);
    }
    if (!startWrite(connection)) closeConnection(connection);
}

// Queues a copy of an input report for the handle, dropping its oldest waiting one (also the one
// being offered to the pipe) when it already holds as many as the class driver would.
void queueReport(DeviceThread& self, Connection& connection, QueuedReply reply) {
    while (connection.queued.size() + (connection.writePending ? 1 : 0) >= INPUT_REPORTS_PER_HANDLE) {
        if (connection.writePending) {
            CancelIoEx(connection.pipe, &connection.writeOverlapped);
            DWORD written = 0;
            if (GetOverlappedResult(connection.pipe, &connection.writeOverlapped, &written, TRUE)) {
                stampReplied(self, connection.writing);  // the program read it just now
            }
            connection.writePending = false;
        } else {
            connection.queued.pop_front();
        }
    }
    connection.queued.push_back(std::move(reply));
}

// HidD_FlushQueue on the handle: every report waiting for it is dropped, also the one already
// offered to its pipe. Replies of its own requests count as taken now.
void dropQueuedReports(DeviceThread& self, Connection& connection) {
    for (const QueuedReply& reply : connection.queued) stampReplied(self, reply);
    connection.queued.clear();
    if (!connection.writePending) return;
    CancelIoEx(connection.pipe, &connection.writeOverlapped);
    DWORD written = 0;
    GetOverlappedResult(connection.pipe, &connection.writeOverlapped, &written, TRUE);
    connection.writePending = false;
    stampReplied(self, connection.writing);  // read just before, or thrown away: taken either way
}

// Accounts for every reply whose read has completed. The system completes the program's read and
// this thread's write in one step, so when the program asks for a snapshot after its read has
// returned, the write's completion is already waiting here.
void settleWrites(DeviceThread& self) {
    for (auto& connection : self.connections) {
        if (connection->pipe == INVALID_HANDLE_VALUE || !connection->writePending) continue;
        if (WaitForSingleObject(connection->writeOverlapped.hEvent, 0) == WAIT_OBJECT_0) finishWrite(self, *connection);
    }
}

enum class Served { Going, Vanished };

// Hands every reply that is due to the handle that asked for it, and notes when the next one is due.
Served serveReplies(DeviceThread& self) {
    self.nextReplyAtUs = NEVER;
    for (;;) {
        std::vector<std::uint32_t> owedBefore;
        std::vector<std::uint8_t> reply;
        SimReadOutcome outcome;
        std::uint64_t readyAtUs = NEVER;
        std::uint32_t requestIndex = 0;
        {
            std::lock_guard<std::mutex> guard(Server.lock);
            SimUnit& unit = self.device->unit;
            if (unit.vanished) return Served::Vanished;
            if (unit.owed.empty()) return Served::Going;
            // A HID read returns a whole input report, however long the unit says its reports are.
            reply.resize(std::max<std::size_t>(unit.config.inputReportLength, 1));
            for (const SimOwedReply& owed : unit.owed) owedBefore.push_back(owed.requestIndex);
            outcome = simReadReply(unit, reply.data(), static_cast<std::uint32_t>(reply.size()), rigNowUs(), &readyAtUs);
            if (outcome == SimReadOutcome::NotYet) {
                self.nextReplyAtUs = readyAtUs;
                return Served::Going;
            }
            // The reply taken is the one no longer owed.
            for (const std::uint32_t index : owedBefore) {
                const bool stillOwed = std::any_of(unit.owed.begin(), unit.owed.end(),
                                                   [index](const SimOwedReply& o) { return o.requestIndex == index; });
                if (!stillOwed) requestIndex = index;
            }
        }
        Connection* asker = connectionOf(self, requestIndex);
        if (outcome == SimReadOutcome::Failed) {  // lost: the read on the handle that asked fails
            if (asker != nullptr) closeConnection(*asker);
            continue;
        }
        // An input report reaches every open handle of the device at once, each in its own queue.
        // The handle that asked gets its copy last: once it has read the reply, every other handle
        // already holds its copy (and has dropped its oldest one, if full), as with the class driver.
        for (const bool toTheAsker : {false, true}) {
            for (auto& connection : self.connections) {
                if (connection->pipe == INVALID_HANDLE_VALUE || (connection.get() == asker) != toTheAsker) continue;
                QueuedReply copy;
                copy.requestIndex = requestIndex;
                copy.bytes = reply;
                copy.stampsTranscript = toTheAsker;
                queueReport(self, *connection, std::move(copy));
                if (!startWrite(*connection)) closeConnection(*connection);
            }
        }
    }
}

// A request is waiting on the connection: give it to the unit, then take it off the pipe (which
// completes the program's write), or refuse it by disconnecting (which fails the write).
Served takeRequest(DeviceThread& self, Connection& connection) {
    std::uint8_t request[REQUEST_BYTES_MAX];
    DWORD peeked = 0;
    DWORD waiting = 0;
    DWORD beyondPeeked = 0;
    if (!PeekNamedPipe(connection.pipe, request, sizeof request, &peeked, &waiting, &beyondPeeked)) {
        closeConnection(connection);
        return Served::Going;
    }
    if (waiting == 0) {  // the program gave its write up meanwhile
        if (!armRead(connection)) closeConnection(connection);
        return Served::Going;
    }

    // Our HidD_FlushQueue: the handle's reports are dropped before its write completes, so that
    // nothing queued before the flush can be read after it.
    const bool flush = beyondPeeked == 0 && peeked == RIG_FLUSH_REQUEST_BYTES &&
                       std::memcmp(request, RIG_FLUSH_REQUEST, RIG_FLUSH_REQUEST_BYTES) == 0;
    if (flush) dropQueuedReports(self, connection);

    bool accepted = flush;
    bool vanished = false;
    std::uint32_t requestIndex = 0;
    if (!flush) {
        std::lock_guard<std::mutex> guard(Server.lock);
        SimUnit& unit = self.device->unit;
        // A message longer than the peek buffer is no report of this unit; the unit refuses it.
        accepted = beyondPeeked == 0 && simWriteRequest(unit, request, peeked, rigNowUs());
        vanished = unit.vanished;
        requestIndex = static_cast<std::uint32_t>(unit.transcript.size()) - 1;
    }
    if (vanished) return Served::Vanished;
    if (!accepted) {
        closeConnection(connection);
        return Served::Going;
    }

    OVERLAPPED take = {};
    take.hEvent = connection.takeEvent;
    ResetEvent(take.hEvent);
    bool complete = ReadFile(connection.pipe, request, sizeof request, nullptr, &take) != FALSE;
    if (!complete && GetLastError() == ERROR_IO_PENDING) {
        complete = WaitForSingleObject(take.hEvent, TAKE_REQUEST_WAIT_MS) == WAIT_OBJECT_0;
        if (!complete) CancelIoEx(connection.pipe, &take);
        DWORD taken = 0;
        complete = GetOverlappedResult(connection.pipe, &take, &taken, TRUE) && complete;
    }
    if (!flush) connection.openRequests.push_back(requestIndex);
    if (!complete || !armRead(connection)) closeConnection(connection);
    return Served::Going;
}

// Makes an instance wait for the next program handle; false when the device cannot be served.
bool listen(const ServedDevice& device, Listener& listener) {
    if (listener.pipe == INVALID_HANDLE_VALUE) {
        listener.pipe = createInstance(device.path);
        if (listener.pipe == INVALID_HANDLE_VALUE) {
            std::fprintf(stderr, "rig: cannot serve %ls (error %lu)\n", device.path.c_str(), GetLastError());
            return false;
        }
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        ResetEvent(listener.overlapped.hEvent);
        if (ConnectNamedPipe(listener.pipe, &listener.overlapped)) {
            listener.connected = true;
            return true;
        }
        const DWORD error = GetLastError();
        if (error == ERROR_PIPE_CONNECTED) {
            listener.connected = true;
            return true;
        }
        if (error == ERROR_IO_PENDING) {
            listener.pending = true;
            return true;
        }
        if (error != ERROR_NO_DATA) {
            std::fprintf(stderr, "rig: cannot listen on %ls (error %lu)\n", device.path.c_str(), error);
            return false;
        }
        // A program opened and closed the instance before it was listened on (a scan that probes
        // and moves on); the instance is free again once it is disconnected.
        DisconnectNamedPipe(listener.pipe);
    }
    return false;
}

// The connected instance becomes a connection; the listener is left without an instance.
void acceptConnection(DeviceThread& self, Listener& listener) {
    auto connection = std::make_unique<Connection>();
    connection->pipe = listener.pipe;
    connection->readOverlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    connection->writeOverlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    connection->takeEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    listener.pipe = INVALID_HANDLE_VALUE;
    listener.connected = false;
    if (connection->readOverlapped.hEvent == nullptr || connection->writeOverlapped.hEvent == nullptr ||
        connection->takeEvent == nullptr || !armRead(*connection)) {
        closeConnection(*connection);
        return;
    }
    self.connections.push_back(std::move(connection));
}

DWORD waitTimeoutMs(std::uint64_t dueAtUs) {
    if (dueAtUs == NEVER) return INFINITE;
    const std::uint64_t now = rigNowUs();
    if (dueAtUs <= now) return 0;
    const std::uint64_t ms = (dueAtUs - now + 999) / 1000;
    return ms >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(ms);
}

// Keeps every listener listening, as long as there is room for more connections.
void keepListening(DeviceThread& self) {
    for (Listener& listener : self.listeners) {
        if (listener.connected) acceptConnection(self, listener);
        if (listener.pending || self.connections.size() + LISTENERS > MAX_CONNECTIONS) continue;
        if (!listen(*self.device, listener) && listener.pipe != INVALID_HANDLE_VALUE) {
            CloseHandle(listener.pipe);
            listener.pipe = INVALID_HANDLE_VALUE;
        }
        if (listener.connected) acceptConnection(self, listener);
    }
}

void closeListeners(DeviceThread& self) {
    for (Listener& listener : self.listeners) {
        if (listener.pipe != INVALID_HANDLE_VALUE) {
            CancelIoEx(listener.pipe, nullptr);
            if (listener.pending) waitForPending(listener.pipe, &listener.overlapped);
            CloseHandle(listener.pipe);
        }
        if (listener.overlapped.hEvent != nullptr) CloseHandle(listener.overlapped.hEvent);
    }
}

void serveDevice(ServedDevice* device) {
    DeviceThread self;
    self.device = device;
    self.listeners[0].pipe = device->firstInstance;
    device->firstInstance = INVALID_HANDLE_VALUE;
    bool vanished = false;
    for (Listener& listener : self.listeners) {
        listener.overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (listener.overlapped.hEvent == nullptr) vanished = true;  // cannot serve: end as if unplugged
    }

    while (!vanished) {
        keepListening(self);
        SetEvent(device->ready);
        vanished = serveReplies(self) == Served::Vanished;
        dropClosedConnections(self);
        if (vanished) break;

        // What to wait for: stop, settle, a new handle, and per connection a request and a finished
        // reply. A slot with nothing to wait for repeats the stop event, which slot 0 already answers.
        HANDLE events[MAXIMUM_WAIT_OBJECTS];
        DWORD count = 0;
        events[count++] = device->stop;
        const DWORD settleSlot = count;
        events[count++] = device->settle;
        const DWORD firstListenerSlot = count;
        for (const Listener& listener : self.listeners) {
            events[count++] = listener.pending ? listener.overlapped.hEvent : device->stop;
        }
        const DWORD firstConnectionSlot = count;
        for (const auto& connection : self.connections) {
            events[count++] = connection->readOverlapped.hEvent;
            events[count++] = connection->writePending ? connection->writeOverlapped.hEvent : device->stop;
        }

        const DWORD woken = WaitForMultipleObjects(count, events, FALSE, waitTimeoutMs(self.nextReplyAtUs));
        if (woken == WAIT_TIMEOUT) continue;
        if (woken >= WAIT_OBJECT_0 + count) {
            std::fprintf(stderr, "rig: waiting for %ls failed (error %lu)\n", device->path.c_str(), GetLastError());
            break;
        }
        const DWORD slot = woken - WAIT_OBJECT_0;
        if (slot == 0) break;
        if (slot == settleSlot) {
            settleWrites(self);
            {
                // Taken here, between two passes of this thread, so that a reply the unit has handed
                // over is also queued on every handle in the copy's world.
                std::lock_guard<std::mutex> guard(Server.lock);
                device->settledCopy = device->unit;
            }
            SetEvent(device->settled);
        } else if (slot < firstConnectionSlot) {
            Listener& listener = self.listeners[slot - firstListenerSlot];
            listener.pending = false;
            DWORD unused = 0;
            if (GetOverlappedResult(listener.pipe, &listener.overlapped, &unused, FALSE)) {
                listener.connected = true;
            } else {
                CloseHandle(listener.pipe);  // a handle that left before it was served
                listener.pipe = INVALID_HANDLE_VALUE;
            }
        } else if ((slot - firstConnectionSlot) % 2 == 0) {
            Connection& connection = *self.connections[(slot - firstConnectionSlot) / 2];
            connection.readPending = false;
            DWORD none = 0;
            if (!GetOverlappedResult(connection.pipe, &connection.readOverlapped, &none, FALSE) &&
                GetLastError() == ERROR_MORE_DATA) {
                vanished = takeRequest(self, connection) == Served::Vanished;
            } else {
                // The program closed its handle, or wrote a report of no bytes, which the zero-byte
                // read took off the pipe before it could be refused: that handle fails from now on.
                closeConnection(connection);
            }
        } else {
            finishWrite(self, *self.connections[(slot - firstConnectionSlot) / 2]);
        }
    }

    if (vanished) markVanished(self);
    // The listeners go before the connections: a program whose I/O has failed may open the path
    // again at once, and a real unit that is gone cannot be opened from its first failure on.
    closeListeners(self);
    for (auto& connection : self.connections) {
        if (connection->pipe != INVALID_HANDLE_VALUE) closeConnection(*connection);
    }
    SetEvent(device->ended);
}

// Ends the device's thread, which closes every server end of its pipe.
void stopServing(ServedDevice& device) {
    if (device.thread.joinable()) {
        SetEvent(device.stop);
        device.thread.join();
    }
    if (device.firstInstance != INVALID_HANDLE_VALUE) {
        CloseHandle(device.firstInstance);
        device.firstInstance = INVALID_HANDLE_VALUE;
    }
    for (HANDLE* event : {&device.stop, &device.settle, &device.settled, &device.ended, &device.ready}) {
        if (*event != nullptr) CloseHandle(*event);
        *event = nullptr;
    }
}

std::wstring makeDevicePath(const SimConfig& config, int number) {
    wchar_t path[UNITS_PATH_CHARS];
    std::swprintf(path, UNITS_PATH_CHARS, L"\\\\.\\pipe\\hid#vid_%04x&pid_%04x#sim&0&%04d#{4d1e55b2-f16f-11cf-88cb-001111000030}",
                  unsigned{config.vendorId}, unsigned{config.productId}, number);
    return path;
}

}  // namespace

std::uint64_t rigNowUs() {
    static const std::uint64_t frequency = queryPerformanceFrequency();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    const auto ticks = static_cast<std::uint64_t>(counter.QuadPart);
    return ticks / frequency * 1000000 + ticks % frequency * 1000000 / frequency;
}

bool rigStartServer(const std::wstring& unitsFile, DWORD staleWaitMs) {
    std::lock_guard<std::mutex> guard(Server.lock);
    if (Server.running) return false;
    DWORD waited = 0;
    Server.serverPipe = createFirstInstanceOnceFree(SERVER_PIPE, PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE, 1,
                                                    staleWaitMs, &waited);
    if (Server.serverPipe == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "rig: another simulator is still running in this prefix: not gone after %lu ms (error %lu)\n",
                     waited, GetLastError());
        return false;
    }
    Server.unitsFile = unitsFile;
    if (!publishUnits() || !SetEnvironmentVariableW(UNITS_FILE_VARIABLE, unitsFile.c_str())) {
        CloseHandle(Server.serverPipe);
        Server.serverPipe = INVALID_HANDLE_VALUE;
        return false;
    }
    Server.running = true;
    return true;
}

void rigStopServer() {
    std::vector<std::unique_ptr<ServedDevice>> devices;
    {
        std::lock_guard<std::mutex> guard(Server.lock);
        if (!Server.running) return;
        for (auto& device : Server.devices) device->present = false;
        publishUnits();
        devices.swap(Server.devices);
        Server.running = false;
    }
    // The threads take the lock themselves, so they are joined without it.
    for (auto& device : devices) stopServing(*device);
    std::lock_guard<std::mutex> guard(Server.lock);
    CloseHandle(Server.serverPipe);
    Server.serverPipe = INVALID_HANDLE_VALUE;
    Server.lastNumber = 0;
}

int rigPlug(const RigDevice& device) {
    auto served = std::make_unique<ServedDevice>();
    {
        std::lock_guard<std::mutex> guard(Server.lock);
        if (!Server.running) return -1;
        served->number = ++Server.lastNumber;
    }
    served->device = device;
    served->path = makeDevicePath(device.config, served->number);
    simInitUnit(served->unit, device.config);
    if (device.openable) {
        // The same path served by an earlier scenario may still be held by a program that is
        // ending; the wait is made without the lock, which the other devices' threads take.
        DWORD waited = 0;
        served->firstInstance = createFirstInstanceOnceFree(served->path, DEVICE_OPEN_MODE, DEVICE_PIPE_MODE,
                                                            PIPE_UNLIMITED_INSTANCES, RIG_STALE_SERVER_WAIT_MS, &waited);
        if (served->firstInstance == INVALID_HANDLE_VALUE) {
            std::fprintf(stderr, "rig: cannot serve %ls: the path is still served elsewhere after %lu ms (error %lu)\n",
                         served->path.c_str(), waited, GetLastError());
            return -1;
        }
    }

    std::lock_guard<std::mutex> guard(Server.lock);
    if (!Server.running) {
        stopServing(*served);
        return -1;
    }
    if (device.openable) {
        served->stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        served->settle = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        served->settled = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        served->ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        served->ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (served->stop == nullptr || served->settle == nullptr || served->settled == nullptr ||
            served->ended == nullptr || served->ready == nullptr) {
            std::fprintf(stderr, "rig: cannot serve %ls (error %lu)\n", served->path.c_str(), GetLastError());
            stopServing(*served);
            return -1;
        }
    }
    served->present = true;
    Server.devices.push_back(std::move(served));
    ServedDevice& added = *Server.devices.back();
    if (!publishUnits()) {
        stopServing(added);
        Server.devices.pop_back();
        return -1;
    }
    if (device.openable) {
        // A program told of the arrival opens the unit at once: it must find it listening.
        added.thread = std::thread(serveDevice, &added);
        const HANDLE answers[] = {added.ready, added.ended};
        WaitForMultipleObjects(2, answers, FALSE, READY_WAIT_MS);
    }
    return added.number;
}

void rigUnplug(int number) {
    ServedDevice* device = nullptr;
    {
        std::lock_guard<std::mutex> guard(Server.lock);
        device = findDevice(number);
        if (device == nullptr) return;
        if (device->present) {
            device->present = false;
            publishUnits();
        }
    }
    // The device stays in the list, so that its unit can still be looked at.
    stopServing(*device);
}

std::wstring rigDevicePath(int number) {
    std::lock_guard<std::mutex> guard(Server.lock);
    const ServedDevice* device = findDevice(number);
    return device != nullptr ? device->path : std::wstring();
}

SimUnit rigUnitSnapshot(int number) {
    ServedDevice* device = nullptr;
    {
        std::lock_guard<std::mutex> guard(Server.lock);
        device = findDevice(number);
        if (device == nullptr) return SimUnit{};
    }
    // Replies the program has already read get their time before the copy is taken, and the copy
    // is taken by the device's thread between two of its passes.
    if (device->thread.joinable()) {
        ResetEvent(device->settled);  // an answer to an earlier request that came too late
        SetEvent(device->settle);
        const HANDLE answers[] = {device->settled, device->ended};
        if (WaitForMultipleObjects(2, answers, FALSE, SETTLE_WAIT_MS) == WAIT_OBJECT_0) {
            std::lock_guard<std::mutex> guard(Server.lock);
            return device->settledCopy;
        }
    }
    // The thread has ended (the unit was unplugged or vanished), or did not answer in time.
    std::lock_guard<std::mutex> guard(Server.lock);
    return device->unit;
}

void rigSetFault(int number, const SimFault& fault) {
    std::lock_guard<std::mutex> guard(Server.lock);
    ServedDevice* device = findDevice(number);
    if (device != nullptr) simSetFault(device->unit, fault);
}
