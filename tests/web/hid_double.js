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
// worker.js with importScripts('/test/hid_double.js'), which installs it there.
function installHidDouble(units) {
    const inWindow = typeof window !== 'undefined';
    const me = `${inWindow ? 'window' : 'worker'}-${Math.random().toString(36).slice(2)}`;
    const channel = new BroadcastChannel('quenlor-hid-double');
    if (inWindow) {
        self.hidDoubleHost = new SharedWorker('/test/hid_units.js');
        self.hidDoubleHost.port.postMessage({units});
    }

    let nextId = 0;
    const waiting = new Map();  // request id -> {resolve, reject}
    const ask = (op, fields) => new Promise((resolve, reject) => {
        const id = ++nextId;
        waiting.set(id, {resolve, reject});
        channel.postMessage({op, id, from: me, ...fields});
    });
    // Said until the units' worker has started and answers.
    const ready = new Promise((resolve) => {
        const id = ++nextId;
        waiting.set(id, {resolve, reject: resolve});
        const hello = () => {
            if (!waiting.has(id)) return;
            channel.postMessage({op: 'hello', id, from: me});
            setTimeout(hello, 50);
        };
        hello();
    });
    const call = async (op, fields = {}) => {
        await ready;
        return ask(op, fields);
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
    channel.onmessage = (event) => {
        const m = event.data;
        // The page's calls meet the unit in its worker; the window asks there for the stamps.
        if (m.op === 'stamps' && !inWindow && known.has(m.index)) {
            channel.postMessage({to: m.from, id: m.id, result: known.get(m.index).stampRows()});
            return;
        }
        if (m.to !== me && m.to !== '*') return;
        if (m.id !== undefined) {
            const pending = waiting.get(m.id);
            waiting.delete(m.id);
            if (!pending) return;
            if (m.error) pending.reject(new DOMException(m.error.message, m.error.name));
            else pending.resolve(m.result);
            return;
        }
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
    };

    if (!inWindow) return;
    const onUnit = (op) => (index, fields) => call(op, {index, ...fields});
    window.hidDouble = {
        ready,
        plug: (spec) => call('plug', {spec}),
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
            const rows = await call('stamps', {index});
            const text = await call('measure', {values: rows.flat(), count: rows.length, label});
            const [head, line] = text.split('\t');
            return head === 'error' ? {error: line} : {error: '', ownRatio: Number(head), line};
        },
    };
}

if (typeof window === 'undefined') installHidDouble(null);
