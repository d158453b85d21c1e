# Desktop integration: the menu entry, the application icon in the hicolor theme and the manual page.
# The programs themselves are installed by their own directories.
set(KESTRIN_PICTURES_DIR ${PROJECT_SOURCE_DIR}/src/controls/pictures)

install(FILES ${PROJECT_SOURCE_DIR}/data/kestrin.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size 16 32 48 256)
    install(FILES ${KESTRIN_PICTURES_DIR}/kestrin-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME kestrin.png)
endforeach()
install(FILES ${KESTRIN_PICTURES_DIR}/kestrin.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/data/kestrin.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The Windows launchers that run uninstallers under Wine, and the registry helper used while a
# wineserver runs (see src/wine/launcher).
foreach(program launch registry)
    foreach(arch win64 win32)
        if(TARGET kestrin_${program}_${arch})
            install(PROGRAMS ${KESTRIN_LAUNCHER_BUILD_DIR}/kestrin-${program}-${arch}.exe
                    DESTINATION ${KESTRIN_INSTALL_LAUNCHER_DIR})
        endif()
    endforeach()
endforeach()
