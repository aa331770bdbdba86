// SPDX-License-Identifier: GPL-3.0-or-later
// Writes a zip of a folder with an npm zip library, as applications using
// it do: node zip_with.js LIBRARY SOURCE_PARENT FOLDER OUTPUT
// (LIBRARY is yazl or jszip, found through NODE_PATH).
'use strict';
const fs = require('fs');
const path = require('path');

const [library, parent, folder, output] = process.argv.slice(2);

// Relative paths, folders first with "/" appended, in walking order.
function walk(relative, out) {
  out.push({ name: relative + '/', dir: true });
  for (const entry of fs.readdirSync(path.join(parent, relative), { withFileTypes: true })) {
    const child = relative + '/' + entry.name;
    if (entry.isDirectory()) walk(child, out);
    else out.push({ name: child, dir: false });
  }
  return out;
}

const entries = walk(folder, []);
const stat = (e) => fs.statSync(path.join(parent, e.name));

if (library === 'yazl') {
  const yazl = require('yazl');
  const zip = new yazl.ZipFile();
  for (const e of entries) {
    const options = { mtime: stat(e).mtime, mode: stat(e).mode };
    if (e.dir) zip.addEmptyDirectory(e.name, options);
    else zip.addFile(path.join(parent, e.name), e.name, options);
  }
  zip.outputStream.pipe(fs.createWriteStream(output)).on('close', () => process.exit(0));
  zip.end();
} else if (library === 'jszip') {
  const JSZip = require('jszip');
  const zip = new JSZip();
  for (const e of entries) {
    const options = { date: stat(e).mtime, unixPermissions: stat(e).mode };
    if (e.dir) zip.folder(e.name);
    else zip.file(e.name, fs.readFileSync(path.join(parent, e.name)), options);
  }
  zip.generateAsync({ type: 'nodebuffer', compression: 'DEFLATE', platform: 'UNIX' })
    .then((data) => fs.writeFileSync(output, data));
} else {
  console.error('unknown library ' + library);
  process.exit(2);
}
