/**
 * The story folder as the studio's page holds it, mounted read-only for the tools:
 * each file is a File from the folder picker (read with FileReaderSync) or a path on
 * bexu-studio's server (read with synchronous ranged requests). A file is read only
 * when a tool reads it, so a huge scene costs nothing until it is opened; small files
 * are kept whole once read, on the entry the page handed over, for the next tool.
 *
 * mount options: {entries: [{path: 'rooms/hall.bmp', size, mtime, blob | url}]}
 */
mergeInto(LibraryManager.library, {
  $STORYFS__deps: ['$FS'],
  $STORYFS__postset: "Module['STORYFS'] = STORYFS;",
  $STORYFS: {
    DIR_MODE: {{{ cDefine('S_IFDIR') }}} | 365 /* 0555 */,
    FILE_MODE: {{{ cDefine('S_IFREG') }}} | 292 /* 0444 */,
    // Files up to this size are read whole at their first read and kept.
    KEPT_WHOLE: 4 << 20,
    reader: null,
    mount: function(mount) {
      var root = STORYFS.createNode(null, '/', STORYFS.DIR_MODE, null);
      var folders = {'': root};
      function folderOf(parts) {
        var path = '';
        var parent = root;
        for (var i = 0; i < parts.length - 1; i++) {
          path += (i ? '/' : '') + parts[i];
          if (!folders[path]) {
            folders[path] = STORYFS.createNode(parent, parts[i], STORYFS.DIR_MODE, null);
          }
          parent = folders[path];
        }
        return parent;
      }
      mount.opts.entries.forEach(function(entry) {
        var parts = entry.path.split('/');
        STORYFS.createNode(folderOf(parts), parts[parts.length - 1], STORYFS.FILE_MODE, entry);
      });
      return root;
    },
    createNode: function(parent, name, mode, entry) {
      var node = FS.createNode(parent, name, mode);
      node.node_ops = STORYFS.node_ops;
      node.stream_ops = STORYFS.stream_ops;
      node.entry = entry;
      node.timestamp = entry && entry.mtime ? entry.mtime : Date.now();
      node.size = entry ? entry.size : 4096;
      node.contents = entry ? null : {};
      if (parent) parent.contents[name] = node;
      return node;
    },
    // Bytes [start, end) of an entry, from its file or its server.
    readRange: function(entry, start, end) {
      if (entry.blob) {
        if (!STORYFS.reader) STORYFS.reader = new FileReaderSync();
        return new Uint8Array(STORYFS.reader.readAsArrayBuffer(entry.blob.slice(start, end)));
      }
      var request = new XMLHttpRequest();
      request.open('GET', entry.url, false);
      request.responseType = 'arraybuffer';
      request.setRequestHeader('Range', 'bytes=' + start + '-' + (end - 1));
      request.send(null);
      if (request.status == 200) return new Uint8Array(request.response).subarray(start, end);
      if (request.status != 206) throw new FS.ErrnoError({{{ cDefine('EIO') }}});
      return new Uint8Array(request.response);
    },
    read: function(entry, position, length) {
      var end = Math.min(entry.size, position + length);
      if (entry.size <= STORYFS.KEPT_WHOLE) {
        if (!entry.bytes) entry.bytes = STORYFS.readRange(entry, 0, entry.size);
        return entry.bytes.subarray(position, end);
      }
      return STORYFS.readRange(entry, position, end);
    },
    node_ops: {
      getattr: function(node) {
        return {
          dev: 1, ino: node.id, mode: node.mode, nlink: 1, uid: 0, gid: 0, rdev: undefined,
          size: node.size, atime: new Date(node.timestamp), mtime: new Date(node.timestamp),
          ctime: new Date(node.timestamp), blksize: 4096, blocks: Math.ceil(node.size / 4096),
        };
      },
      setattr: function(node, attr) {
        throw new FS.ErrnoError({{{ cDefine('EPERM') }}});
      },
      lookup: function(parent, name) {
        throw new FS.ErrnoError({{{ cDefine('ENOENT') }}});
      },
      mknod: function(parent, name, mode, dev) {
        throw new FS.ErrnoError({{{ cDefine('EPERM') }}});
      },
      rename: function(oldNode, newDir, newName) {
        throw new FS.ErrnoError({{{ cDefine('EPERM') }}});
      },
      unlink: function(parent, name) {
        throw new FS.ErrnoError({{{ cDefine('EPERM') }}});
      },
      rmdir: function(parent, name) {
        throw new FS.ErrnoError({{{ cDefine('EPERM') }}});
      },
      readdir: function(node) {
        return ['.', '..'].concat(Object.keys(node.contents));
      },
      symlink: function(parent, newName, oldPath) {
        throw new FS.ErrnoError({{{ cDefine('EPERM') }}});
      },
      readlink: function(node) {
        throw new FS.ErrnoError({{{ cDefine('EINVAL') }}});
      },
    },
    stream_ops: {
      read: function(stream, buffer, offset, length, position) {
        var entry = stream.node.entry;
        if (position >= entry.size) return 0;
        var bytes;
        try {
          bytes = STORYFS.read(entry, position, length);
        } catch (error) {
          // A file changed or gone since the folder was opened reads as an error.
          if (error instanceof FS.ErrnoError) throw error;
          throw new FS.ErrnoError({{{ cDefine('EIO') }}});
        }
        buffer.set(bytes, offset);
        return bytes.length;
      },
      write: function(stream, buffer, offset, length, position) {
        throw new FS.ErrnoError({{{ cDefine('EROFS') }}});
      },
      llseek: function(stream, offset, whence) {
        var position = offset;
        if (whence === {{{ cDefine('SEEK_CUR') }}}) {
          position += stream.position;
        } else if (whence === {{{ cDefine('SEEK_END') }}}) {
          if (FS.isFile(stream.node.mode)) position += stream.node.size;
        }
        if (position < 0) throw new FS.ErrnoError({{{ cDefine('EINVAL') }}});
        return position;
      },
    },
  },
});
