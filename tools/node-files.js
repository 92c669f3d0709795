// Runs before tavelin-train.js starts under node: the machine's folders are
// mounted at their own paths in emscripten's file system and the working
// directory is the shell's, so paths on the command line mean what they mean
// to the native program. (-sNODERAWFS would do the same, but standard output
// could then not be examined with fstat.)
Module['preRun'] = Module['preRun'] || [];
Module['preRun'].push(function () {
  var fs = require('fs');
  fs.readdirSync('/').forEach(function (name) {
    // emscripten's own /dev and /proc stay: standard output is one of them.
    if (name === 'dev' || name === 'proc') return;
    var host = '/' + name;
    try {
      if (!fs.statSync(host).isDirectory()) return;
    } catch (e) {
      return;
    }
    try { FS.mkdir(host); } catch (e) { /* /tmp and /home exist already */ }
    FS.mount(NODEFS, { root: host }, host);
  });
  FS.chdir(process.cwd());
});
