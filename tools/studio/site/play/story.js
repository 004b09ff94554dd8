// The story of the studio's player: instead of a packed story.data, the files the
// studio's page hands over, put into the file system before the player starts, and
// where to start.
(function() {
  var story = parent.studioPlayerStory && parent.studioPlayerStory();
  if (!story) return;
  Module.preRun = Module.preRun || [];
  Module.preRun.push(function() {
    story.files.forEach(function(file) {
      var path = file[0];
      var slash = path.lastIndexOf("/");
      var folder = "/" + (slash < 0 ? "" : path.slice(0, slash));
      if (slash >= 0) Module.FS_createPath("/", path.slice(0, slash), true, false);
      Module.FS_createDataFile(folder, path.slice(slash + 1), file[1], true, false, false);
    });
  });
  Module.bexuStart = story.start;
})();
