// The programming units behind every navigator.hid double of one browser context (hid_double.js):
// a shared worker that holds the simulated units (sim_double.js), so that a window and its worker,
// or two tabs, reach one unit as they would reach one plugged-in device. Each double talks to it
// through a port of its own: a window's through the shared worker's, its page worker's through one
// the window hands over (a dedicated worker cannot make a shared worker). Every input report goes
// to every double that opened the device, as WebHID gives it to every connection. The first
// window's units are the context's; a later window's are ignored.
'use strict';
importScripts('sim_double.js');

const VENDOR_ID = 0x2F1E;
const ports = new Set();
const devices = [];
let sim = null;
let configured = false;

const failure = (name, message) => ({name, message});
const tell = (port, message) => port.postMessage(message);
const tellAll = (message) => { for (const port of ports) port.postMessage(message); };

function described(d) {
    return {index: d.index, vendorId: d.vendorId, productId: d.productId, productName: d.productName,
            inputBytes: d.inputBytes, outputBytes: d.outputBytes, collections: d.config.collections, granted: d.granted,
            unplugged: d.unplugged};
}

function plug(config, announce) {
    const inputBytes = config.inputBytes || 60;
    const outputBytes = config.outputBytes || 60;
    const productId = config.productId === undefined ? 2 : config.productId;
    const d = {index: devices.length, config, inputBytes, outputBytes, productId,
               vendorId: config.vendorId === undefined ? VENDOR_ID : config.vendorId,
               productName: productId === 1 ? 'DIALPUCK' : 'VexoBOX', granted: !!config.granted, unplugged: false,
               openedBy: new Set(), sent: []};
    d.unit = sim.ccall('simDoubleCreate', 'number', ['number', 'number', 'number', 'number', 'number', 'number', 'number'],
        [productId, config.unitMode || 0, config.attachedType === undefined ? 3 : config.attachedType, config.escHardwareId >>> 0,
         config.escFirmwareVersion === undefined ? 0x0105 : config.escFirmwareVersion, inputBytes, outputBytes]);
    if (config.fault) {
        const f = config.fault;
        sim.ccall('simDoubleFault', null, ['number', 'number', 'number', 'number', 'number'],
            [d.unit, f.kind, f.command, f.block === undefined ? 0xFFFFFFFF : f.block, f.errorCode || 0]);
    }
    d.buffer = sim._malloc(64);
    d.replyDueAt = null;
    devices.push(d);
    // The browser announces only a device the origin may use.
    if (announce && d.granted) tellAll({event: 'connect', device: described(d)});
    return d.index;
}

// answering: the unit's own share of the exchange for the bench's stamps (tests/bench/own_time.h),
// in ms; dueAt: when a reply that was not ready at once fell due, in ms since the epoch.
function inputTo(d, reply, answering = 0, dueAt = null) {
    for (const client of d.openedBy) {
        tell(client, {event: 'input', index: d.index, reportId: reply[0], data: reply.slice(1), answering, dueAt});
    }
}

// Hands out every reply that is due, and comes back when the next one will be.
function deliver(d) {
    if (d.unplugged) return;
    for (;;) {
        const answeringFrom = performance.now();
        const outcome = sim.ccall('simDoubleRead', 'number', ['number', 'number', 'number', 'number'],
            [d.unit, d.buffer, d.inputBytes, answeringFrom]);
        if (outcome === 0) {
            inputTo(d, sim.HEAPU8.slice(d.buffer, d.buffer + d.inputBytes), performance.now() - answeringFrom, d.replyDueAt);
            d.replyDueAt = null;
            continue;
        }
        if (outcome === 2) {
            const readyAt = sim.ccall('simDoubleReadyAtMs', 'number', [], []);
            d.replyDueAt = readyAt >= 0 ? performance.timeOrigin + readyAt : null;
            if (readyAt >= 0) setTimeout(() => deliver(d), Math.max(0, Math.ceil(readyAt - performance.now())));
        }
        return;
    }
}

function send(d, from, reportId, bytes) {
    if (d.unplugged || !d.openedBy.has(from)) throw failure('InvalidStateError', 'The device must be opened first.');
    d.sent.push({reportId, length: bytes.length});
    const report = new Uint8Array(1 + bytes.length);
    report[0] = reportId;
    report.set(bytes, 1);
    const pointer = sim._malloc(report.length);
    sim.HEAPU8.set(report, pointer);
    const answeringFrom = performance.now();
    const taken = sim.ccall('simDoubleWrite', 'number', ['number', 'number', 'number', 'number'],
        [d.unit, pointer, report.length, answeringFrom]);
    const answering = performance.now() - answeringFrom;
    sim._free(pointer);
    if (!taken) throw failure('NotAllowedError', 'Failed to write the report.');
    queueMicrotask(() => deliver(d));
    return {answering};
}

// The bench's measure of stamped exchanges (rows of six numbers, in us): "<ratio> TAB <line>" or
// "error TAB <why>".
function measure(values, count, label) {
    const pointer = sim._malloc(Math.max(1, values.length) * 8);
    sim.HEAPF64.set(values, pointer / 8);
    const text = sim.ccall('simDoubleMeasureOwnTime', 'string', ['number', 'number', 'string'], [pointer, count, label]);
    sim._free(pointer);
    return text;
}

function transcript(d) {
    const call = (name, request) => sim.ccall(name, 'number', ['number', 'number'], [d.unit, request]);
    const rows = [];
    const count = sim.ccall('simDoubleTranscriptLength', 'number', ['number'], [d.unit]);
    for (let i = 0; i < count; ++i) {
        rows.push({command: call('simDoubleRequestCommand', i), receivedAt: call('simDoubleReceivedAtMs', i),
                   sentAt: call('simDoubleSentAtMs', i)});
    }
    return rows;
}

// Each request is answered on the port it came through (m.from).
const OPERATIONS = {
    list: () => devices.map(described),
    grant: (m) => {
        const offered = devices.filter((d) => !d.unplugged && m.filters.some((f) => f.vendorId === d.vendorId &&
            (f.productId === undefined || f.productId === d.productId)));
        for (const d of offered) d.granted = true;
        return offered.slice(0, 1).map(described);
    },
    open: (m, d) => {
        if (d.unplugged) throw failure('NotFoundError', 'Failed to open the device.');
        if (d.config.refuseOpen) throw failure('NotAllowedError', 'Failed to open the device.');
        d.openedBy.add(m.from);
    },
    close: (m, d) => { d.openedBy.delete(m.from); },
    forget: (m, d) => {
        d.granted = false;
        d.openedBy.clear();
    },
    send: (m, d) => send(d, m.from, m.reportId, m.data),
    plug: (m) => plug(m.config, true),
    // dropPermission: the browser forgets the grant at the unplug, as Chromium may for a device
    // without a serial number.
    unplug: (m, d) => {
        d.unplugged = true;
        d.openedBy.clear();
        sim.ccall('simDoubleVanish', null, ['number'], [d.unit]);
        tellAll({event: 'disconnect', device: described(d)});
        if (m.dropPermission) d.granted = false;
    },
    // Reports the unit sends of itself, as a hostile or confused device may.
    flood: (m, d) => {
        for (let i = 0; i < m.count; ++i) inputTo(d, new Uint8Array(d.inputBytes).fill(i & 0xFF, 1).fill(2, 0, 1));
    },
    flash: (m, d) => {
        const pointer = sim.ccall('simDoubleFlash', 'number', ['number'], [d.unit]);
        return Array.from(sim.HEAPU8.subarray(pointer, pointer + m.length));
    },
    requests: (m, d) => sim.ccall('simDoubleRequests', 'number', ['number', 'number'], [d.unit, m.command]),
    sent: (m, d) => d.sent,
    transcript: (m, d) => transcript(d),
    measure: (m) => measure(m.values, m.count, m.label),
};

const started = createSimDouble().then((module) => { sim = module; });

function serve(port) {
    ports.add(port);
    port.onmessage = async (event) => {
        const m = {...event.data, from: port};
        await started;
        if (m.op === 'configure') {
            if (!configured) for (const config of m.units || []) plug(config, false);
            configured = true;
            return;
        }
        // The port of a double in the window's page worker.
        if (m.op === 'connect') return serve(event.ports[0]);
        if (!OPERATIONS[m.op]) return;
        const d = m.index === undefined ? null : devices[m.index];
        if (m.index !== undefined && !d) return tell(port, {id: m.id, error: failure('NotFoundError', 'No such device.')});
        try {
            tell(port, {id: m.id, result: OPERATIONS[m.op](m, d)});
        } catch (error) {
            tell(port, {id: m.id, error: error.name ? error : failure('OperationError', String(error))});
        }
    };
}

// A window's double; its first message is its units.
self.onconnect = (event) => serve(event.ports[0]);
