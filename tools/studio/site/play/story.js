// The story of the studio's player. Instead of a packed story.data, the page waits,
// loaded and ready, until the studio hands it the story's files and where to start;
// they go into the file system and the player starts at once.
(function() {
  var studioWindow = parent !== window && parent.studioPlayerModule ? parent : null;
  if (!studioWindow) return;
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
  // story: {files: [[path, bytes]], start}
  window.studioPlay = function(story) {
    story.files.forEach(function(file) {
      var path = file[0];
      var slash = path.lastIndexOf("/");
      if (slash >= 0) Module.FS_createPath("/", path.slice(0, slash), true, false);
      Module.FS_createDataFile("/" + path.slice(0, slash + 1), path.slice(slash + 1), file[1],
                               true, false, false);
    });
    Module.bexuStart = story.start;
    // Where the play starts, and each key wait it reaches.
    Module.studioPlace = function(place) { studioWindow.studioPlayerPlace(window, place); };
    Module.removeRunDependency("studio-story");
  };
})();
