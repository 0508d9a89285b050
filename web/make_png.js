// Build step: turns an RGBA PAM image (as ui/res/artwork/make_artwork draws the page's icons) into
// a PNG. Every row is stored with the "Sub" filter, which makes the flat colours of the artwork
// runs of zeros for the compressor.
//   node make_png.js <in.pam> <out.png>
'use strict';
const fs = require('fs');
const zlib = require('zlib');

const CRC_TABLE = Array.from({length: 256}, (_, n) => {
    let c = n;
    for (let k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320 ^ (c >>> 1) : c >>> 1;
    return c >>> 0;
});

function crc32(bytes) {
    let c = 0xFFFFFFFF;
    for (const b of bytes) c = CRC_TABLE[(c ^ b) & 0xFF] ^ (c >>> 8);
    return (c ^ 0xFFFFFFFF) >>> 0;
}

function chunk(type, data) {
    const head = Buffer.alloc(8);
    head.writeUInt32BE(data.length, 0);
    head.write(type, 4, 'latin1');
    const crc = Buffer.alloc(4);
    crc.writeUInt32BE(crc32(Buffer.concat([head.subarray(4), data])), 0);
    return Buffer.concat([head, data, crc]);
}

function readPam(bytes) {
    const end = bytes.indexOf('ENDHDR\n');
    const header = end < 0 ? '' : bytes.subarray(0, end).toString('latin1');
    const field = (name) => Number((header.match(new RegExp(`^${name} (\\d+)$`, 'm')) || [])[1]);
    const width = field('WIDTH'), height = field('HEIGHT');
    const pixels = bytes.subarray(end + 7);
    if (!header.startsWith('P7\n') || field('DEPTH') !== 4 || field('MAXVAL') !== 255 || !(width > 0) || !(height > 0) ||
        pixels.length !== width * height * 4) {
        throw new Error('not an RGBA PAM image of 8 bits a channel');
    }
    return {width, height, pixels};
}

function encodePng({width, height, pixels}) {
    const rowBytes = width * 4;
    const filtered = Buffer.alloc(height * (rowBytes + 1));
    for (let y = 0; y < height; ++y) {
        const out = y * (rowBytes + 1);
        filtered[out] = 1;  // Sub: each byte less the same channel of the pixel to its left
        for (let i = 0; i < rowBytes; ++i) {
            const left = i >= 4 ? pixels[y * rowBytes + i - 4] : 0;
            filtered[out + 1 + i] = (pixels[y * rowBytes + i] - left) & 0xFF;
        }
    }
    const header = Buffer.alloc(13);
    header.writeUInt32BE(width, 0);
    header.writeUInt32BE(height, 4);
    header.set([8, 6, 0, 0, 0], 8);  // 8 bits, RGBA, deflate, adaptive filters, not interlaced
    return Buffer.concat([Buffer.from([0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A]), chunk('IHDR', header),
        chunk('IDAT', zlib.deflateSync(filtered, {level: 9})), chunk('IEND', Buffer.alloc(0))]);
}

const [input, output] = process.argv.slice(2);
try {
    fs.writeFileSync(output, encodePng(readPam(fs.readFileSync(input))));
} catch (error) {
    console.error(`make_png: ${input}: ${error.message}`);
    process.exit(1);
}
