// The page side of the web backend (platform/web_*.cpp): the canvas the
// window is drawn on, text drawn by the browser, and what the page shows
// around the window. Linked with emscripten's --js-library.
mergeInto(LibraryManager.library, {
  $tavelinPage: {
    canvas: function () {
      return document.getElementById('tavelin');
    },
    // A canvas of our own to draw one line of text on and read it back.
    text: null,
  },

  tavelin_page_has_canvas__deps: ['$tavelinPage'],
  tavelin_page_has_canvas: function () {
    return tavelinPage.canvas() ? 1 : 0;
  },

  // Window pixels to a CSS pixel: the screen's own, so that a sharp screen
  // gets a sharp picture, but at most 2, since every pixel is composed.
  tavelin_page_scale: function () {
    return Math.min(Math.max(window.devicePixelRatio || 1, 1), 2);
  },

  // The size the window gets: the browser window's, in window pixels.
  tavelin_page_size__deps: ['tavelin_page_scale'],
  tavelin_page_size: function (width, height) {
    var scale = _tavelin_page_scale();
    HEAP32[width >> 2] = Math.max(Math.round(window.innerWidth * scale), 1);
    HEAP32[height >> 2] = Math.max(Math.round(window.innerHeight * scale), 1);
  },

  // Where the canvas's top-left corner is, in the browser window.
  tavelin_canvas_origin__deps: ['$tavelinPage'],
  tavelin_canvas_origin: function (x, y) {
    var rect = tavelinPage.canvas().getBoundingClientRect();
    HEAP32[x >> 2] = Math.round(rect.left);
    HEAP32[y >> 2] = Math.round(rect.top);
  },

  tavelin_canvas_resize__deps: ['$tavelinPage'],
  tavelin_canvas_resize: function (width, height) {
    var canvas = tavelinPage.canvas();
    if (canvas.width !== width) canvas.width = width;
    if (canvas.height !== height) canvas.height = height;
  },

  tavelin_canvas_show__deps: ['$tavelinPage'],
  tavelin_canvas_show: function (visible) {
    tavelinPage.canvas().style.visibility = visible ? 'visible' : 'hidden';
  },

  // rgba: width * height pixels of 4 bytes, red, green, blue, alpha.
  tavelin_put_image__deps: ['$tavelinPage'],
  tavelin_put_image: function (rgba, width, height) {
    var canvas = tavelinPage.canvas();
    if (canvas.width !== width || canvas.height !== height) return;
    var pixels = new Uint8ClampedArray(HEAPU8.buffer, rgba, width * height * 4);
    canvas.getContext('2d').putImageData(new ImageData(pixels, width, height), 0, 0);
  },

  // Draws one line (UTF-8) in the page's sans-serif font at `size` pixels
  // on the text canvas; its cell's size in *width and *height and the
  // distance to the next line in *line_height. The ink is read back with
  // tavelin_text_coverage.
  tavelin_text_line__deps: ['$tavelinPage'],
  tavelin_text_line: function (text, size, bold, width, height, line_height) {
    if (!tavelinPage.text) tavelinPage.text = document.createElement('canvas');
    var canvas = tavelinPage.text;
    var context = canvas.getContext('2d', { willReadFrequently: true });
    var font = (bold ? 'bold ' : '') + size + 'px sans-serif';
    context.font = font;
    var words = UTF8ToString(text);
    var m = context.measureText(words);
    var ascent = Math.ceil(m.fontBoundingBoxAscent || size * 0.9);
    var descent = Math.ceil(m.fontBoundingBoxDescent || size * 0.25);
    var w = Math.ceil(m.width);
    var h = ascent + descent;
    HEAP32[width >> 2] = w;
    HEAP32[height >> 2] = h;
    HEAP32[line_height >> 2] = h;
    if (w === 0) return;
    // Resizing a canvas clears it and resets its state.
    canvas.width = w;
    canvas.height = h;
    context.font = font;
    context.textBaseline = 'alphabetic';
    context.fillStyle = '#000';
    context.fillText(words, 0, ascent);
  },

  // The ink of the line last drawn: its alpha, one byte a pixel.
  tavelin_text_coverage__deps: ['$tavelinPage'],
  tavelin_text_coverage: function (out) {
    var canvas = tavelinPage.text;
    var rgba = canvas.getContext('2d', { willReadFrequently: true }).getImageData(0, 0, canvas.width, canvas.height).data;
    for (var i = 0, n = canvas.width * canvas.height; i < n; i++) HEAPU8[out + i] = rgba[4 * i + 3];
  },

  // The words the window shows, for screen readers (the canvas is only a
  // picture to them): all of them, and the first line (the status) where a
  // change is announced; a paint that drew no words leaves them.
  tavelin_window_text: function (text) {
    var words = UTF8ToString(text);
    if (!words) return;
    var all = document.getElementById('tavelin-text');
    var status = document.getElementById('tavelin-status');
    if (all && all.textContent !== words) all.textContent = words;
    var first = words.split('\n')[0];
    if (status && status.textContent !== first) status.textContent = first;
  },

  tavelin_show_message: function (caption, text) {
    if (Module['showMessage']) Module['showMessage'](UTF8ToString(caption), UTF8ToString(text));
  },

  tavelin_window_closed: function (code) {
    if (Module['windowClosed']) Module['windowClosed'](code);
  },
});
