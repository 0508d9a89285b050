// The window's side of the page's HID port: navigator.hid, on behalf of the core in the worker.
// The worker asks (list, open, write, close) and the window answers; input reports with the reply
// ID are forwarded as they arrive, from the moment a device is opened, so that none is missed
// between a request and its reply. Report lengths are counted as the Windows HID parser counts
// them: the largest report of each kind, plus one byte for the report ID when reports are numbered.
'use strict';
const UNIT_VENDOR_ID = 0x2F1E;
const UNIT_FILTERS = [{vendorId: UNIT_VENDOR_ID, productId: 1}, {vendorId: UNIT_VENDOR_ID, productId: 2}];
const REPLY_REPORT_ID = 2;
const REQUEST_REPORT_ID = 1;
// HidOpenFailure in device/hid_port.h; TransferOutcome in web/hid_port_web.cpp.
const OPEN_OK = 0, OPEN_NOT_FOUND = 1, OPEN_ACCESS_DENIED = 2, OPEN_OTHER = 4;
const DEVICE_GONE = 2, TRANSFER_FAILED = 3;

function reportBytes(reports) {
    let largest = 0;
    let numbered = false;
    for (const report of reports || []) {
        let bits = 0;
        for (const item of report.items || []) bits += item.reportSize * item.reportCount;
        largest = Math.max(largest, Math.ceil(bits / 8));
        if (report.reportId !== 0) numbered = true;
    }
    return largest === 0 ? 0 : largest + (numbered ? 1 : 0);
}

function collectReports(collections, kind, into) {
    for (const collection of collections || []) {
        into.push(...(collection[kind] || []));
        collectReports(collection.children, kind, into);
    }
    return into;
}

function reportLengths(device) {
    return {
        inputBytes: reportBytes(collectReports(device.collections, 'inputReports', [])),
        outputBytes: reportBytes(collectReports(device.collections, 'outputReports', [])),
    };
}

function isProgrammingUnit(device) {
    return device.vendorId === UNIT_VENDOR_ID && (device.productId === 1 || device.productId === 2);
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
            ...reportLengths(device),
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
