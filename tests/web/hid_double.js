// A stand-in for navigator.hid, in the page's window and in its worker, put in place before any of
// the page's scripts runs there. It behaves as Chromium's WebHID does where the page relies on it:
// requestDevice (window only) grants what the chooser would offer, getDevices lists what is
// granted and attached, sendReport takes the ID and the bytes after it, replies come as inputreport
// events to every opened connection, an unplugged device fails every call and fires disconnect.
// The units themselves live in hid_units.js, one set per browser context; the tests steer them
// through window.hidDouble.
// Window: page.evaluateOnNewDocument(`${source}\ninstallHidDouble(units)`), units: [{productId,
// unitMode, attachedType, escHardwareId, escFirmwareVersion, inputBytes, outputBytes, collections,
// granted, refuseOpen, fault: {kind, command, block, errorCode}}]. Worker: the test server starts
// worker.js with importScripts('/test/hid_double.js'), which installs it there; it takes its ports
// from the window's first message, which the page never sees.
function installHidDouble(units) {
    const inWindow = typeof window !== 'undefined';
    let nextId = 0;
    const waiting = new Map();  // request id -> {resolve, reject}
    const request = (port, op, fields) => new Promise((resolve, reject) => {
        const id = ++nextId;
        waiting.set(id, {resolve, reject});
        port.postMessage({op, id, ...fields});
    });
    const answered = (m) => {
        const pending = waiting.get(m.id);
        waiting.delete(m.id);
        if (!pending) return;
        if (m.error) pending.reject(new DOMException(m.error.message, m.error.name));
        else pending.resolve(m.result);
    };

    // The window's port to the units is the shared worker's; it hands its page worker one of its
    // own, and one to itself for the stamps, with the first message to that worker.
    let host = null;
    let toWorker = null;
    let havePorts;
    const ready = new Promise((resolve) => { havePorts = resolve; });
    if (inWindow) {
        const shared = new SharedWorker('/test/hid_units.js');
        host = shared.port;
        host.postMessage({op: 'configure', units});
        self.hidDoubleHost = shared;
        const PageWorker = self.Worker;
        self.Worker = function Worker(url, options) {
            const worker = new PageWorker(url, options);
            const toUnits = new MessageChannel();
            const toWindow = new MessageChannel();
            host.postMessage({op: 'connect'}, [toUnits.port1]);
            worker.postMessage({hidDoublePorts: true}, [toUnits.port2, toWindow.port2]);
            toWorker = toWindow.port1;
            toWorker.onmessage = (event) => answered(event.data);
            return worker;
        };
        havePorts();
    } else {
        self.addEventListener('message', (event) => {
            if (!event.data || !event.data.hidDoublePorts) return;
            event.stopImmediatePropagation();
            [host, toWorker] = event.ports;
            host.onmessage = (e) => onUnits(e.data);
            // The window asks here for the stamps of the page's calls.
            toWorker.onmessage = (e) => {
                const device = known.get(e.data.index);
                toWorker.postMessage({id: e.data.id, result: device ? device.stampRows() : []});
            };
            havePorts();
        });
    }
    const call = async (op, fields = {}) => {
        await ready;
        return request(host, op, fields);
    };

    const known = new Map();  // index -> DeviceDouble

    class DeviceDouble extends EventTarget {
        constructor(described) {
            super();
            this.index = described.index;
            this.vendorId = described.vendorId;
            this.productId = described.productId;
            this.productName = described.productName;
            this.opened = false;
            // The bench's stamps, one per request the unit took, in ms of this scope's clock: where
            // the page's calls meet the unit (tests/bench/own_time.h).
            this.stamps = [];
            this.stampsHanded = 0;
            // Numbered reports: the ID is the one byte beyond the items.
            this.collections = described.collections || [{usagePage: 0xFF00, usage: 1, type: 1, children: [],
                inputReports: [{reportId: 2, items: [{reportSize: 8, reportCount: described.inputBytes - 1}]}],
                outputReports: [{reportId: 1, items: [{reportSize: 8, reportCount: described.outputBytes - 1}]}],
                featureReports: []}];
        }
        async open() {
            await call('open', {index: this.index});
            this.opened = true;
        }
        async close() {
            this.opened = false;
            await call('close', {index: this.index});
        }
        async forget() {
            this.opened = false;
            await call('forget', {index: this.index});
        }
        async sendReport(reportId, data) {
            const taken = performance.now();
            if (!this.opened) throw new DOMException('The device must be opened first.', 'InvalidStateError');
            const bytes = new Uint8Array(ArrayBuffer.isView(data)
                ? data.buffer.slice(data.byteOffset, data.byteOffset + data.byteLength) : data);
            const {answering} = await call('send', {index: this.index, reportId, data: bytes});
            this.stamps.push({command: bytes[0], taken, done: performance.now(), handed: 0, answering});
        }
        // A reply reached the page: the unit's share of its exchange, and a reply that was not
        // ready at once was the unit's to finish until it fell due.
        stampReply(answering, dueAt) {
            const stamp = this.stamps[this.stampsHanded++];
            if (!stamp) return;
            const due = dueAt === null ? 0 : Math.max(0, dueAt - (performance.timeOrigin + stamp.done));
            stamp.answering += answering + due;
            stamp.handed = performance.now();
        }
        // From the first system lock on, as rows of six numbers in us (tests/bench/own_time.h).
        stampRows() {
            const first = this.stamps.findIndex((s) => s.command === 0x0B);
            const us = (ms) => Math.round(ms * 1000);
            return (first < 0 ? [] : this.stamps.slice(first))
                .map((s) => [s.command, us(s.taken), us(s.done), 0, us(s.handed), us(s.answering)]);
        }
    }
    const deviceOf = (described) => {
        if (!known.has(described.index)) known.set(described.index, new DeviceDouble(described));
        return known.get(described.index);
    };

    class HidDouble extends EventTarget {
        async getDevices() {
            const all = await call('list');
            return all.filter((d) => d.granted && !d.unplugged).map(deviceOf);
        }
    }
    if (inWindow) {
        HidDouble.prototype.requestDevice = async function requestDevice(options) {
            if (!navigator.userActivation || !navigator.userActivation.isActive) {
                throw new DOMException('Must be handling a user gesture to show a permission request.', 'SecurityError');
            }
            return (await call('grant', {filters: (options && options.filters) || []})).map(deviceOf);
        };
    }
    const hid = new HidDouble();
    Object.defineProperty(Object.getPrototypeOf(navigator), 'hid', {get: () => hid, configurable: true});

    const fire = (target, type, fields) => {
        const event = new Event(type);
        Object.assign(event, fields);
        target.dispatchEvent(event);
    };
    function onUnits(m) {
        if (m.id !== undefined) return answered(m);
        if (m.event === 'connect') {
            fire(hid, 'connect', {device: deviceOf(m.device)});
        } else if (m.event === 'disconnect') {
            const device = deviceOf(m.device);
            device.opened = false;
            fire(hid, 'disconnect', {device});
        } else if (m.event === 'input') {
            const device = known.get(m.index);
            if (device && device.opened) {
                device.stampReply(m.answering, m.dueAt);
                fire(device, 'inputreport', {device, reportId: m.reportId, data: new DataView(m.data.buffer)});
            }
        }
    }
    if (inWindow) host.onmessage = (e) => onUnits(e.data);

    if (!inWindow) return;
    const onUnit = (op) => (index, fields) => call(op, {index, ...fields});
    window.hidDouble = {
        ready,
        plug: (config) => call('plug', {config}),
        // dropPermission: the browser forgets the grant at the unplug.
        unplug: (index, dropPermission = false) => onUnit('unplug')(index, {dropPermission}),
        flood: (index, count) => onUnit('flood')(index, {count}),
        flash: (index, length) => onUnit('flash')(index, {length}),
        requests: (index, command) => onUnit('requests')(index, {command}),
        sent: (index) => onUnit('sent')(index),
        // Each request's command and times, for the pauses between them.
        transcript: (index) => onUnit('transcript')(index),
        // The bench's measure of the update in the stamps of the page's worker, from its first
        // system lock on: {error, ownRatio, line}.
        async ownTime(index, label) {
            const rows = await request(toWorker, 'stamps', {index});
            const text = await call('measure', {values: rows.flat(), count: rows.length, label});
            const [head, line] = text.split('\t');
            return head === 'error' ? {error: line} : {error: '', ownRatio: Number(head), line};
        },
    };
}

if (typeof window === 'undefined') installHidDouble(null);
