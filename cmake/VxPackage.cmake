# Installation layout and the Debian package (cpack -G DEB, see scripts/package).
# The programs go to <prefix>/bin; the help page and the demo project, which a build
# keeps beside the executables, go to <prefix>/share/vexmira, where the installed
# program looks for them.

set(VX_APPSTREAM_ID "org.vexmira.vexmira" CACHE STRING "AppStream component id")
set(VX_HOMEPAGE "https://vexmira.org" CACHE STRING "The project's web site")
set(VX_SCREENSHOT_URL "${VX_HOMEPAGE}/screenshots" CACHE STRING
    "Web folder holding the AppStream screenshots (data/screenshots)")
set(VX_PACKAGE_MAINTAINER "Vexmira developers <packages@vexmira.org>" CACHE STRING
    "Maintainer of the Debian package")

# Nothing is built by installing: scripts/package builds exactly what it installs.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(data ${CMAKE_SOURCE_DIR}/data)
set(staged ${CMAKE_BINARY_DIR}/package-files)

# Files made from the sources: the AppStream metadata, and the compressed manual pages
# and changelog (gzip -n: no time stamp, so the package's contents are reproducible).
# The screenshots listed in data/screenshots/captions.tsv, the first one the default.
set(VX_SCREENSHOTS "")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${data}/screenshots/captions.tsv)
file(STRINGS ${data}/screenshots/captions.tsv shots ENCODING UTF-8 REGEX "^[^#]")
foreach(shot ${shots})
  string(REPLACE "\t" ";" fields "${shot}")
  list(LENGTH fields count)
  if(NOT count EQUAL 3)
    message(FATAL_ERROR "data/screenshots/captions.tsv: \"${shot}\" is not file, caption, Chinese caption")
  endif()
  list(GET fields 0 file)
  list(GET fields 1 caption)
  list(GET fields 2 caption_zh)
  if(NOT EXISTS ${data}/screenshots/${file})
    message(FATAL_ERROR "data/screenshots/captions.tsv names ${file}, which is not there")
  endif()
  if(VX_SCREENSHOTS STREQUAL "")
    set(kind " type=\"default\"")
  else()
    set(kind "")
  endif()
  string(APPEND VX_SCREENSHOTS
    "    <screenshot${kind}>\n"
    "      <caption>${caption}</caption>\n"
    "      <caption xml:lang=\"zh_CN\">${caption_zh}</caption>\n"
    "      <image>${VX_SCREENSHOT_URL}/${file}</image>\n"
    "    </screenshot>\n")
endforeach()
configure_file(${data}/package/vexmira.metainfo.xml.in
               ${staged}/${VX_APPSTREAM_ID}.metainfo.xml @ONLY)
configure_file(${data}/package/changelog ${staged}/changelog @ONLY)
set(compressed)
foreach(source ${data}/man/vexmira.1 ${data}/man/vexmira-cli.1 ${staged}/changelog)
  get_filename_component(name ${source} NAME)
  add_custom_command(OUTPUT ${staged}/${name}.gz
    COMMAND gzip -9 -n -c ${source} > ${staged}/${name}.gz
    DEPENDS ${source} VERBATIM)
  list(APPEND compressed ${staged}/${name}.gz)
endforeach()
add_custom_target(vx_package_files ALL DEPENDS ${compressed})

install(TARGETS vexmira vexmira-cli RUNTIME DESTINATION bin)
install(FILES ${data}/vexmira.html DESTINATION share/vexmira)
install(DIRECTORY ${data}/demo/ DESTINATION share/vexmira/demo
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
        PATTERN make-demo EXCLUDE)
install(FILES ${data}/package/Vexmira.desktop DESTINATION share/applications)
install(FILES ${data}/package/vexmira-mime.xml DESTINATION share/mime/packages
        RENAME vexmira.xml)
install(FILES ${staged}/${VX_APPSTREAM_ID}.metainfo.xml DESTINATION share/metainfo)
install(FILES ${data}/icons/vexmira.svg DESTINATION share/icons/hicolor/scalable/apps)
file(GLOB icon_sizes RELATIVE ${data}/icons/hicolor ${data}/icons/hicolor/*)
foreach(size ${icon_sizes})
  install(FILES ${data}/icons/hicolor/${size}/vexmira.png
          DESTINATION share/icons/hicolor/${size}/apps)
endforeach()
install(FILES ${staged}/vexmira.1.gz ${staged}/vexmira-cli.1.gz DESTINATION share/man/man1)
install(FILES ${data}/package/copyright ${staged}/changelog.gz DESTINATION share/doc/vexmira)
install(FILES ${data}/package/lintian-overrides DESTINATION share/lintian/overrides
        RENAME vexmira)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vexmira)
set(CPACK_PACKAGE_VENDOR "The Vexmira developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${VX_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "screen recorder and lyrics video maker")
# The long description, one line of the control file each (a lone "." is an empty line).
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Vexmira records the whole screen, a rectangle or a window into MP4, WMV,"
  "AVI or MOV files at 15 pictures a second, with the mouse cursor and the"
  "sound of the recording device. A recording is started, paused and stopped"
  "from the main window, a floating toolbar, the tray menu or global hotkeys."
  "."
  "It also turns a song, its LRC lyrics and a set of photos into a lyrics"
  "video: the photos run as a slideshow and the lyrics are drawn over them"
  "page by page, the current row highlighted. Lyrics can be edited and timed"
  "against the playing song, and the work is kept in project files."
  "."
  "The user interface is in Chinese. The package also holds vexmira-cli,"
  "which makes lyrics videos and records the screen from a terminal.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${VX_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Qt and the other linked libraries are found by dpkg-shlibdeps. FFmpeg and SDL are
# opened at run time by their sonames, so they are named here: Debian names each
# FFmpeg library's package after its soname, whose major the build's headers fix.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(runtime_libraries)
foreach(lib avcodec avformat avutil swscale swresample avfilter avdevice)
  string(REGEX MATCH "^[0-9]+" major "${VX_FFMPEG_lib${lib}_VERSION}")
  if(NOT major)
    message(FATAL_ERROR "no version found for lib${lib}")
  endif()
  if(lib STREQUAL "avcodec" OR lib STREQUAL "avfilter")
    list(APPEND runtime_libraries "lib${lib}${major} | lib${lib}-extra${major}")
  else()
    list(APPEND runtime_libraries "lib${lib}${major}")
  endif()
endforeach()
list(APPEND runtime_libraries "libsdl2-2.0-0 (>= 2.0.4)")
string(JOIN ", " CPACK_DEBIAN_PACKAGE_DEPENDS ${runtime_libraries})
# Chinese in Qt's own dialogs, Chinese fonts, TIFF photos, sound servers, Wayland
# sessions (the screen-cast portal), and opening files and folders with their programs.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "qt6-translations-l10n, fonts-noto-cjk, qt6-image-formats-plugins, pipewire-pulse | pulseaudio, qt6-wayland, xdg-desktop-portal, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "ffmpeg")
include(CPack)
