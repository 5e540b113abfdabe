# SPDX-License-Identifier: GPL-3.0-or-later
# What a desktop installs besides the programs, and the Debian package.
install(FILES data/org.torvak.TorvakPtt.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES data/torvak-ptt.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES data/org.torvak.TorvakPtt.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES data/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Man pages and the changelog are installed compressed, as Debian has them.
set(pages torvak-ptt torvakfunc)
if(TARGET torvak-wine-bridge)
  list(APPEND pages torvak-wine-bridge)
endif()
set(compressed)
foreach(page ${pages})
  set(gz ${CMAKE_BINARY_DIR}/man/${page}.1.gz)
  add_custom_command(OUTPUT ${gz}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND gzip -9nc ${CMAKE_SOURCE_DIR}/man/${page}.1 > ${gz}
    DEPENDS man/${page}.1)
  install(FILES ${gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  list(APPEND compressed ${gz})
endforeach()
set(changelog ${CMAKE_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${changelog}
  COMMAND gzip -9nc ${CMAKE_SOURCE_DIR}/data/changelog > ${changelog}
  DEPENDS data/changelog)
add_custom_target(compressed-docs ALL DEPENDS ${compressed} ${changelog})
install(FILES ${changelog} DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME torvak-ptt)
set(CPACK_PACKAGE_CONTACT "torvak-ptt developers <torvak-ptt@torvak.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Keys a TenTec transceiver between receive and transmit for a host program")
set(CPACK_PACKAGE_DESCRIPTION "torvak-ptt sits beside a host application and switches a TenTec radio
between receive and transmit when the host asks, by writing a seven-byte
CI-V frame to the radio's serial port. A round lamp shows the state: green
for receive, red for transmit; clicking it toggles the radio the same way.

Host programs send commands over a per-user Unix socket, from a shell with
torvakfunc, or, for Windows programs under Wine, through torvak-wine-bridge.
Whatever goes wrong (a stalled line, an unplugged interface, a signal), the
radio ends in the state the host last asked for.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY torvak-ptt)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# Wayland sessions want Qt's Wayland platform; only Windows host programs
# need Wine, and the bridge needs nothing else.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland, wine64")
include(CPack)
