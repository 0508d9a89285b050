// The page's devices, in its worker: the worker's own navigator.hid on behalf of the core's HID
// port (web/hid_port_web.cpp reaches it as Module.webHid). It lists the granted units, opens,
// writes, keeps the input reports with the reply ID from the moment a device is opened (so that
// none is missed between a request and its reply) and watches the units go. The core counts the
// report lengths from the collections, which go to it in a compact form. The window loads this
// file only for the chooser's filters.
'use strict';
// The unit's IDs, the report IDs and the outcome numbers come from page_constants.js.
const UNIT_FILTERS = UNIT_PRODUCT_IDS.map((productId) => ({vendorId: UNIT_VENDOR_ID, productId}));
const OPEN_OK = OPEN_OUTCOME.ok, OPEN_NOT_FOUND = OPEN_OUTCOME.notFound, OPEN_ACCESS_DENIED = OPEN_OUTCOME.accessDenied;
const OPEN_BUSY = OPEN_OUTCOME.busy, OPEN_OTHER = OPEN_OUTCOME.other;
const TRANSFER_DONE = TRANSFER_OUTCOME.done, TIMED_OUT = TRANSFER_OUTCOME.timedOut;
const DEVICE_GONE = TRANSFER_OUTCOME.deviceGone, TRANSFER_FAILED = TRANSFER_OUTCOME.failed;
// As many unread reports as the HID class driver keeps for a reader; the oldest go first.
const QUEUED_REPORTS = 32;
// One unit for every tab and window of the page's origin: held from the first open until the
// link is closed.
const UNIT_LOCK_NAME = 'quenlor-programming-unit';

// The kinds in the order of their numbers in the compact form.
const REPORT_KINDS = ['inputReports', 'outputReports', 'featureReports'];
const MAX_COMPACT_REPORTS = 0xFFFF, MAX_COMPACT_BITS = 0xFFFFFFFF;

// The device's top-level collections in the form of device/hid_report_descriptor.h
// (unitReportLengthsFromCollections): per collection its usage page, usage and reports, those of
// its child collections with it; per report its kind, ID and bits.
function compactCollections(device) {
    const bytes = [];
    const push16 = (value) => bytes.push(value & 0xFF, (value >> 8) & 0xFF);
    for (const top of device.collections || []) {
        const reports = [];
        const gather = (collection) => {
            REPORT_KINDS.forEach((kind, number) => {
                for (const report of collection[kind] || []) {
                    let bits = 0;
                    for (const item of report.items || []) bits += item.reportSize * item.reportCount;
                    reports.push([number, report.reportId, Math.min(bits, MAX_COMPACT_BITS)]);
                }
            });
            for (const child of collection.children || []) gather(child);
        };
        gather(top);
        const kept = reports.slice(0, MAX_COMPACT_REPORTS);
        push16(top.usagePage);
        push16(top.usage);
        push16(kept.length);
        for (const [kind, id, bits] of kept) {
            bytes.push(kind, id & 0xFF);
            for (let i = 0; i < 4; ++i) bytes.push(Math.floor(bits / 2 ** (8 * i)) & 0xFF);
        }
    }
    return new Uint8Array(bytes);
}

function isProgrammingUnit(device) {
    return device.vendorId === UNIT_VENDOR_ID && UNIT_PRODUCT_IDS.includes(device.productId);
}

function withTimeout(promise, timeoutMs, onTimeout) {
    return new Promise((resolve) => {
        const timer = setTimeout(() => resolve(onTimeout), timeoutMs);
        promise.then((value) => {
            clearTimeout(timer);
            resolve(value);
        });
    });
}

// The Web Lock of the unit. take() gets it now or not at all; wait() gets it once the other tab
// lets go, then calls onFreed.
class UnitLock {
    constructor(locks) {
        this.locks = locks;
        this.state = 'free';  // 'held', 'waiting'
        this.release = null;
    }

    hold(resolve) {
        this.state = 'held';
        resolve(true);
        return new Promise((release) => { this.release = release; });
    }

    take() {
        if (this.state === 'held' || !this.locks) return Promise.resolve(true);
        return new Promise((resolve) => {
            this.locks.request(UNIT_LOCK_NAME, {ifAvailable: true}, (lock) => (lock ? this.hold(resolve) : resolve(false)))
                .catch(() => resolve(false));
        });
    }

    wait(onFreed) {
        if (this.state !== 'free' || !this.locks) return;
        this.state = 'waiting';
        this.locks.request(UNIT_LOCK_NAME, () => this.hold(onFreed)).catch(() => { this.state = 'free'; });
    }

    let() {
        if (this.state !== 'held') return;
        this.state = 'free';
        const release = this.release;
        this.release = null;
        if (release) release();
    }
}

class UnitHid {
    constructor(hid, locks) {
        this.hid = hid;
        this.lock = new UnitLock(locks);
        this.numbers = new Map();   // HIDDevice -> number
        this.devices = new Map();   // number -> HIDDevice
        this.listeners = new Map(); // number -> inputreport listener of an opened device
        this.queues = new Map();    // number -> input reports not read yet, of an opened device
        this.readers = new Map();   // number -> resolve of the read waiting for a report
        this.goneDevices = new Set();
        this.listed = [];
        this.nextNumber = 0;
    }

    numberOf(device) {
        if (!this.numbers.has(device)) {
            this.numbers.set(device, this.nextNumber);
            this.devices.set(this.nextNumber, device);
            ++this.nextNumber;
        }
        return this.numbers.get(device);
    }

    // The granted and attached units, as {number, name}; null when the browser gives no list.
    async units() {
        let devices;
        try {
            devices = await this.hid.getDevices();
        } catch (error) {
            return null;
        }
        return devices.filter(isProgrammingUnit).map((device) => ({number: this.numberOf(device), name: device.productName}));
    }

    // The core's list: their count, or -1; each one is then read with field.
    async list() {
        let devices;
        try {
            devices = await this.hid.getDevices();
        } catch (error) {
            return -1;
        }
        this.listed = devices.filter(isProgrammingUnit).map((device) => ({
            number: this.numberOf(device), vendorId: device.vendorId, productId: device.productId,
            collections: compactCollections(device),
        }));
        return this.listed.length;
    }

    field(index, field) {
        const d = this.listed[index];
        return d ? [d.number, d.vendorId, d.productId][field] : 0;
    }

    collections(index) {
        const d = this.listed[index];
        return d ? d.collections : null;
    }

    openCount() { return this.queues.size; }

    async open(number) {
        const device = this.devices.get(number);
        if (!device) return OPEN_NOT_FOUND;
        if (this.lock.state !== 'held') return OPEN_BUSY;
        const queue = [];
        this.queues.set(number, queue);
        if (!this.listeners.has(number)) {
            const listener = (event) => {
                if (event.reportId !== REPLY_REPORT_ID) return;
                if (queue.length === QUEUED_REPORTS) queue.shift();
                queue.push(new Uint8Array(event.data.buffer, event.data.byteOffset, event.data.byteLength).slice());
                this.wake(number, TRANSFER_DONE);
            };
            // Listening starts before the device is opened: no reply can slip by.
            device.addEventListener('inputreport', listener);
            this.listeners.set(number, listener);
        }
        this.goneDevices.delete(number);
        if (device.opened) return OPEN_OK;
        try {
            await device.open();
            return OPEN_OK;
        } catch (error) {
            this.stopListening(number);
            if (error && (error.name === 'NotAllowedError' || error.name === 'SecurityError')) return OPEN_ACCESS_DENIED;
            if (error && error.name === 'NotFoundError') return OPEN_NOT_FOUND;
            return OPEN_OTHER;
        }
    }

    stopListening(number) {
        const device = this.devices.get(number);
        const listener = this.listeners.get(number);
        if (device && listener) device.removeEventListener('inputreport', listener);
        this.listeners.delete(number);
        this.queues.delete(number);
    }

    close(number) {
        const device = this.devices.get(number);
        this.stopListening(number);
        this.wake(number, DEVICE_GONE);
        if (device && device.opened) device.close().catch(() => {});
    }

    gone(number) { return this.goneDevices.has(number); }

    discard(number) {
        const queue = this.queues.get(number);
        if (queue) queue.length = 0;
    }

    async write(number, bytes, timeoutMs) {
        const device = this.devices.get(number);
        if (!device || !device.opened || this.goneDevices.has(number)) return DEVICE_GONE;
        const sent = device.sendReport(REQUEST_REPORT_ID, bytes).then(() => TRANSFER_DONE,
            () => (device.opened ? TRANSFER_FAILED : DEVICE_GONE));
        return withTimeout(sent, timeoutMs, TIMED_OUT);
    }

    async read(number, timeoutMs) {
        const queue = this.queues.get(number);
        if (!queue || this.goneDevices.has(number)) return DEVICE_GONE;
        if (queue.length > 0) return queue.shift();
        const arrived = new Promise((resolve) => this.readers.set(number, resolve));
        const outcome = await withTimeout(arrived, timeoutMs, TIMED_OUT);
        this.readers.delete(number);
        if (outcome === TIMED_OUT || outcome === DEVICE_GONE) return outcome;
        return queue.length > 0 ? queue.shift() : DEVICE_GONE;
    }

    wake(number, value) {
        const reader = this.readers.get(number);
        if (reader) reader(value);
    }

    // A device went away: true when it was open.
    disconnected(device) {
        if (!this.numbers.has(device)) return false;
        const number = this.numbers.get(device);
        const wasOpen = this.queues.has(number);
        this.goneDevices.add(number);
        this.wake(number, DEVICE_GONE);
        return wasOpen;
    }

    async forget(number) {
        const device = this.devices.get(number);
        if (!device || typeof device.forget !== 'function') return;
        this.close(number);
        await device.forget().catch(() => {});
    }
}
