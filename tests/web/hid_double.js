// A stand-in for navigator.hid, put in place before any of the page's scripts runs: programming
// units backed by the simulated unit (sim/sim_unit.cpp, compiled to WebAssembly as
// /test/sim_double.js), each with its flash and transcript. It behaves as Chromium's WebHID does
// where the page relies on it: requestDevice grants what the chooser would offer, getDevices lists
// what is granted, sendReport takes the ID and the bytes after it, replies come as inputreport
// events, an unplugged device fails every call and fires disconnect. The tests steer it through
// window.hidDouble.
// Installed with page.evaluateOnNewDocument(installHidDouble, units); units: [{productId, unitMode,
// attachedType, escHardwareId, escFirmwareVersion, inputBytes, outputBytes, granted, refuseOpen,
// fault: {kind, command, block, errorCode}}].
function installHidDouble(units) {
    const VENDOR_ID = 0x2F1E;
    const ready = fetch('/test/sim_double.js')
        .then((response) => response.text())
        .then((source) => (0, eval)(`${source}\n;createSimDouble`)({locateFile: (file) => `/test/${file}`}));

    class HidDouble extends EventTarget {
        constructor() {
            super();
            this.devices = [];
        }
        async getDevices() {
            await ready;
            return this.devices.filter((d) => d.granted && !d.unplugged);
        }
        async requestDevice(options) {
            await ready;
            if (!navigator.userActivation || !navigator.userActivation.isActive) {
                throw new DOMException('Must be handling a user gesture to show a permission request.', 'SecurityError');
            }
            const filters = (options && options.filters) || [];
            const offered = this.devices.filter((d) => !d.unplugged &&
                filters.some((f) => f.vendorId === d.vendorId && (f.productId === undefined || f.productId === d.productId)));
            for (const d of offered) d.granted = true;
            return offered.slice(0, 1);
        }
    }

    class DeviceDouble extends EventTarget {
        constructor(sim, spec) {
            super();
            this.sim = sim;
            this.spec = spec;
            this.vendorId = spec.vendorId === undefined ? VENDOR_ID : spec.vendorId;
            this.productId = spec.productId === undefined ? 2 : spec.productId;
            this.productName = this.productId === 1 ? 'DIALPUCK' : 'VexoBOX';
            this.granted = !!spec.granted;
            this.opened = false;
            this.unplugged = false;
            this.sent = [];  // every sendReport: {reportId, length}
            // The bench's stamps, one per request the unit took, in milliseconds of this clock: where
            // the page's calls meet the unit (tests/bench/own_time.h).
            this.stamps = [];
            this.stampsHanded = 0;
            this.replyDueAt = null;
            const inputBytes = spec.inputBytes || 60;
            const outputBytes = spec.outputBytes || 60;
            this.inputBytes = inputBytes;
            // Numbered reports: the ID is the one byte beyond the items.
            this.collections = [{usagePage: 0xFF00, usage: 1, type: 1, children: [],
                inputReports: [{reportId: 2, items: [{reportSize: 8, reportCount: inputBytes - 1}]}],
                outputReports: [{reportId: 1, items: [{reportSize: 8, reportCount: outputBytes - 1}]}],
                featureReports: []}];
            this.unit = sim.ccall('simDoubleCreate', 'number',
                ['number', 'number', 'number', 'number', 'number', 'number', 'number'],
                [this.productId, spec.unitMode || 0, spec.attachedType === undefined ? 3 : spec.attachedType,
                 spec.escHardwareId >>> 0, spec.escFirmwareVersion === undefined ? 0x0105 : spec.escFirmwareVersion,
                 inputBytes, outputBytes]);
            if (spec.fault) this.setFault(spec.fault);
            this.buffer = sim._malloc(64);
        }
        setFault(fault) {
            this.sim.ccall('simDoubleFault', null, ['number', 'number', 'number', 'number', 'number'],
                [this.unit, fault.kind, fault.command, fault.block === undefined ? 0xFFFFFFFF : fault.block,
                 fault.errorCode || 0]);
        }
        async open() {
            await ready;
            if (this.unplugged) throw new DOMException('Failed to open the device.', 'NotFoundError');
            if (this.spec.refuseOpen) throw new DOMException('Failed to open the device.', 'NotAllowedError');
            this.opened = true;
        }
        async close() { this.opened = false; }
        async sendReport(reportId, data) {
            const takenAt = performance.now();
            if (!this.opened) throw new DOMException('The device must be opened first.', 'InvalidStateError');
            const bytes = new Uint8Array(ArrayBuffer.isView(data) ? data.buffer.slice(data.byteOffset, data.byteOffset + data.byteLength) : data);
            this.sent.push({reportId, length: bytes.length});
            const report = new Uint8Array(1 + bytes.length);
            report[0] = reportId;
            report.set(bytes, 1);
            const pointer = this.sim._malloc(report.length);
            this.sim.HEAPU8.set(report, pointer);
            const answeringFrom = performance.now();
            const taken = this.sim.ccall('simDoubleWrite', 'number', ['number', 'number', 'number', 'number'],
                [this.unit, pointer, report.length, answeringFrom]);
            const answered = performance.now() - answeringFrom;
            this.sim._free(pointer);
            if (!taken) throw new DOMException('Failed to write the report.', 'NotAllowedError');
            queueMicrotask(() => this.deliver());
            this.stamps.push({command: report[1], taken: takenAt, done: performance.now(), handed: 0, answering: answered});
        }
        // Hands out every reply that is due, and comes back when the next one will be.
        deliver() {
            if (!this.opened || this.unplugged) return;
            for (;;) {
                const answeringFrom = performance.now();
                const outcome = this.sim.ccall('simDoubleRead', 'number', ['number', 'number', 'number', 'number'],
                    [this.unit, this.buffer, this.inputBytes, answeringFrom]);
                if (outcome === 0) {
                    const reply = this.sim.HEAPU8.slice(this.buffer, this.buffer + this.inputBytes);
                    const event = new Event('inputreport');
                    event.device = this;
                    event.reportId = reply[0];
                    event.data = new DataView(reply.buffer, 1);
                    const stamp = this.stamps[this.stampsHanded++];
                    if (stamp) {
                        // A reply that was not ready at once was the unit's to finish until it was due.
                        const due = this.replyDueAt === null ? 0 : Math.max(0, this.replyDueAt - stamp.done);
                        stamp.answering += performance.now() - answeringFrom + due;
                        this.replyDueAt = null;
                        stamp.handed = performance.now();
                    }
                    this.dispatchEvent(event);
                    continue;
                }
                if (outcome === 2) {
                    const readyAt = this.sim.ccall('simDoubleReadyAtMs', 'number', [], []);
                    this.replyDueAt = readyAt >= 0 ? readyAt : null;
                    if (readyAt >= 0) setTimeout(() => this.deliver(), Math.max(0, Math.ceil(readyAt - performance.now())));
                }
                return;
            }
        }
    }

    const hid = new HidDouble();
    Object.defineProperty(Navigator.prototype, 'hid', {get: () => hid, configurable: true});

    window.hidDouble = {
        ready: ready.then(() => {
            return true;
        }),
        async plug(spec, announce) {
            const sim = await ready;
            const device = new DeviceDouble(sim, spec);
            hid.devices.push(device);
            if (announce) {
                const event = new Event('connect');
                event.device = device;
                hid.dispatchEvent(event);
            }
            return hid.devices.length - 1;
        },
        unplug(index) {
            const device = hid.devices[index];
            device.unplugged = true;
            device.opened = false;
            device.sim.ccall('simDoubleVanish', null, ['number'], [device.unit]);
            const event = new Event('disconnect');
            event.device = device;
            hid.dispatchEvent(event);
        },
        flash(index, length) {
            const device = hid.devices[index];
            const pointer = device.sim.ccall('simDoubleFlash', 'number', ['number'], [device.unit]);
            return Array.from(device.sim.HEAPU8.subarray(pointer, pointer + length));
        },
        requests(index, command) {
            const device = hid.devices[index];
            return device.sim.ccall('simDoubleRequests', 'number', ['number', 'number'], [device.unit, command]);
        },
        sent(index) { return hid.devices[index].sent; },
        // The bench's measure of the update in the device's stamps (tests/bench/own_time.h), from its
        // first system lock on: {error, ownRatio, line}.
        ownTime(index, label) {
            const device = hid.devices[index];
            const first = device.stamps.findIndex((s) => s.command === 0x0B);
            const rows = first < 0 ? [] : device.stamps.slice(first);
            const us = (ms) => Math.round(ms * 1000);
            const values = rows.flatMap((s) => [s.command, us(s.taken), us(s.done), 0, us(s.handed), us(s.answering)]);
            const sim = device.sim;
            const pointer = sim._malloc(Math.max(1, values.length) * 8);
            sim.HEAPF64.set(values, pointer / 8);
            const text = sim.ccall('simDoubleMeasureOwnTime', 'string', ['number', 'number', 'string'],
                [pointer, rows.length, label]);
            sim._free(pointer);
            const [head, line] = text.split('\t');
            return head === 'error' ? {error: line} : {error: '', ownRatio: Number(head), line};
        },
        // Each request's command and times, for the pauses between them.
        transcript(index) {
            const device = hid.devices[index];
            const call = (name, request) => device.sim.ccall(name, 'number', ['number', 'number'], [device.unit, request]);
            const count = device.sim.ccall('simDoubleTranscriptLength', 'number', ['number'], [device.unit]);
            const rows = [];
            for (let i = 0; i < count; ++i) {
                rows.push({command: call('simDoubleRequestCommand', i), receivedAt: call('simDoubleReceivedAtMs', i),
                           sentAt: call('simDoubleSentAtMs', i)});
            }
            return rows;
        },
    };
    for (const spec of units || []) window.hidDouble.plug(spec, false);
}

module.exports = {installHidDouble};
