# Assembles the studio's site folder (cmake -P): the page's own files, the player page,
# and the players it exports. Run by the target bexu-studio-site.
foreach(player IN ITEMS WINDOWS_PLAYER LINUX_PLAYER)
  if(NOT EXISTS "${${player}}")
    message(FATAL_ERROR "bexu studio: the player '${${player}}' is missing: `make studio` "
                        "builds it (presets win32 and default)")
  endif()
endforeach()
# The page's own files anew, so none left from an older site stays (the wasm files beside
# them are the linker's).
file(GLOB old "${SITE}/*.html" "${SITE}/*.css" "${SITE}/*.js")
list(FILTER old EXCLUDE REGEX "/bexu-studio-core\\.js$")
if(old)
  file(REMOVE ${old})
endif()
file(REMOVE_RECURSE "${SITE}/vendor")
file(GLOB pages "${SOURCE}/*")
file(COPY ${pages} DESTINATION "${SITE}")
# The shipped player page plays the studio's player, its story handed over by the studio.
# Its story is not fetched: the studio hands the files over (play/story.js), in place of
# the page's loading of story.bexw.
file(READ "${WEB_BUILD}/index.html" page)
string(FIND "${page}" "<!-- story data:" data_start)
string(FIND "${page}" "<!-- end of story data -->" data_end)
if(data_start LESS 0 OR data_end LESS data_start)
  message(FATAL_ERROR "bexu studio: the web player's page has no story data to replace")
endif()
string(SUBSTRING "${page}" 0 ${data_start} before)
string(SUBSTRING "${page}" ${data_end} -1 after)
file(WRITE "${SITE}/play/index.html" "${before}<script src=\"story.js\"></script>\n${after}")
file(REMOVE_RECURSE "${SITE}/players")
file(COPY "${WEB_BUILD}/index.html" "${WEB_BUILD}/bexu.js" "${WEB_BUILD}/bexu.wasm"
     DESTINATION "${SITE}/players/web")
file(COPY_FILE "${WINDOWS_PLAYER}" "${SITE}/players/bexu.exe")
file(COPY_FILE "${LINUX_PLAYER}" "${SITE}/players/bexu-static")
