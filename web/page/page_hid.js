// The window's side of the page's HID port: navigator.hid, on behalf of the core in the worker.
// The worker asks (list, open, write, close) and the window answers; input reports with the reply
// ID are forwarded as they arrive, from the moment a device is opened, so that none is missed
// between a request and its reply. The core counts the report lengths from the collections, which
// go to it in a compact form.
'use strict';
// The unit's IDs, the report IDs and the outcome numbers come from page_constants.js.
const UNIT_FILTERS = UNIT_PRODUCT_IDS.map((productId) => ({vendorId: UNIT_VENDOR_ID, productId}));
const OPEN_OK = OPEN_OUTCOME.ok, OPEN_NOT_FOUND = OPEN_OUTCOME.notFound;
const OPEN_ACCESS_DENIED = OPEN_OUTCOME.accessDenied, OPEN_OTHER = OPEN_OUTCOME.other;
const DEVICE_GONE = TRANSFER_OUTCOME.deviceGone, TRANSFER_FAILED = TRANSFER_OUTCOME.failed;

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

class PageHid {
    constructor(hid, post) {
        this.hid = hid;
        this.post = post;           // (message, transfer) to the worker
        this.numbers = new Map();   // HIDDevice -> number
        this.devices = new Map();   // number -> HIDDevice
        this.listeners = new Map(); // number -> inputreport listener of an opened device
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

    async list() {
        let devices;
        try {
            devices = await this.hid.getDevices();
        } catch (error) {
            return null;
        }
        return devices.filter(isProgrammingUnit).map((device) => ({
            number: this.numberOf(device), vendorId: device.vendorId, productId: device.productId,
            collections: compactCollections(device),
        }));
    }

    async open(number) {
        const device = this.devices.get(number);
        if (!device) return OPEN_NOT_FOUND;
        if (!this.listeners.has(number)) {
            const listener = (event) => {
                if (event.reportId !== REPLY_REPORT_ID) return;
                const data = new Uint8Array(event.data.buffer.slice(event.data.byteOffset,
                                                                    event.data.byteOffset + event.data.byteLength));
                this.post({type: 'input', number, data}, [data.buffer]);
            };
            // Listening starts before the device is opened: no reply can slip by.
            device.addEventListener('inputreport', listener);
            this.listeners.set(number, listener);
        }
        if (device.opened) return OPEN_OK;
        try {
            await device.open();
            return OPEN_OK;
        } catch (error) {
            this.forget(number);
            if (error && (error.name === 'NotAllowedError' || error.name === 'SecurityError')) return OPEN_ACCESS_DENIED;
            if (error && error.name === 'NotFoundError') return OPEN_NOT_FOUND;
            return OPEN_OTHER;
        }
    }

    forget(number) {
        const device = this.devices.get(number);
        const listener = this.listeners.get(number);
        if (device && listener) device.removeEventListener('inputreport', listener);
        this.listeners.delete(number);
    }

    close(number) {
        const device = this.devices.get(number);
        this.forget(number);
        if (device && device.opened) device.close().catch(() => {});
    }

    async write(number, bytes) {
        const device = this.devices.get(number);
        if (!device || !device.opened) return DEVICE_GONE;
        try {
            await device.sendReport(REQUEST_REPORT_ID, bytes);
            return 0;
        } catch (error) {
            return device.opened ? TRANSFER_FAILED : DEVICE_GONE;
        }
    }

    // The worker's requests: {op, id, …}; each is answered with {type: 'hidReply', id, result}.
    async handle(request) {
        let result = null;
        switch (request.op) {
            case 'list': result = await this.list(); break;
            case 'open': result = await this.open(request.number); break;
            case 'write': result = await this.write(request.number, request.bytes); break;
            case 'close': this.close(request.number); return;
        }
        this.post({type: 'hidReply', id: request.id, result});
    }

    // The number of a device the page has seen; -1 for one it has not.
    knownNumber(device) { return this.numbers.has(device) ? this.numbers.get(device) : -1; }
}
