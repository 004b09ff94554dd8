// The story of the studio's player. Instead of fetching story.bexw, the page waits,
// loaded and ready, until the studio hands it the story's files and where to start;
// the player then opens them as it opens an arrived file of story.bexw
// (platform/web/files.cpp), each as it is, and starts at once.
(function() {
  var studioWindow = parent !== window && parent.studioPlayerModule ? parent : null;
  if (!studioWindow) return;
  document.getElementById("bexu-loading").hidden = true;
  var module = studioWindow.studioPlayerModule();
  // The studio compiled the player once: each play makes only a new instance.
  Module.instantiateWasm = function(imports, done) {
    WebAssembly.instantiate(module, imports).then(function(made) {
      done(made, module);
    });
    return {};
  };
  Module.preRun = [function() {
    Module.addRunDependency("studio-story");
    studioWindow.studioPlayerFrameReady(window);
  }];

  // Names as the player asks for them: their bytes, one character each.
  function keyOf(bytes) {
    var key = "";
    for (var i = 0; i < bytes.length; ++i) key += String.fromCharCode(bytes[i]);
    return key;
  }
  var files = new Map();
  var folders = new Set();
  var stored = 0; // the files travel as they are
  Module.bexuStory = {
    arrival: function(nameBytes, folder) {
      var key = keyOf(nameBytes);
      if (folder) return folders.has(key) ? 1 : -1;
      var data = files.get(key);
      if (!data) return -1;
      return {bytes: data.length, coding: stored, fileSize: data.length, width: 0, height: 0};
    },
    // Handed over once: the player keeps the bytes from then on.
    handOver: function(nameBytes) {
      var key = keyOf(nameBytes);
      var data = files.get(key);
      files.set(key, null);
      return data;
    }
  };

  // story: {files: [[path, bytes]], start}
  window.studioPlay = function(story) {
    var encoder = new TextEncoder();
    story.files.forEach(function(file) {
      var key = keyOf(encoder.encode(file[0]));
      files.set(key, file[1]);
      for (var slash = key.indexOf("/"); slash > 0; slash = key.indexOf("/", slash + 1)) {
        folders.add(key.substring(0, slash));
      }
    });
    Module.bexuStart = story.start;
    // Where the play starts, and each key wait it reaches.
    Module.studioPlace = function(place) { studioWindow.studioPlayerPlace(window, place); };
    Module.removeRunDependency("studio-story");
  };
})();
