# Run by cpack's External generator once it has staged, stripped, the files the
# zip holds: builds quorvel-<version>-x64.msi from them with wixl (msitools).
# wixl finds sources only by paths relative to where it runs, hence the
# staging folder as working directory.
find_program(QUORVEL_WIXL wixl)
if(NOT QUORVEL_WIXL)
    message(FATAL_ERROR "wixl not found: the MSI needs Debian's package wixl")
endif()
set(msi ${CPACK_PACKAGE_DIRECTORY}/quorvel-${CPACK_PACKAGE_VERSION}-x64.msi)
file(RELATIVE_PATH icon ${CPACK_TEMPORARY_DIRECTORY} ${CMAKE_CURRENT_LIST_DIR}/../quorvel.ico)
execute_process(COMMAND ${QUORVEL_WIXL} -a x64 -D Version=${CPACK_PACKAGE_VERSION}
                        -D "Manufacturer=${CPACK_PACKAGE_VENDOR}" -D "Tip=${CPACK_QUORVEL_SHORTCUT_TIP}"
                        -D SourceDir=. -D IconFile=${icon}
                        -o ${msi} ${CMAKE_CURRENT_LIST_DIR}/quorvel.wxs
                WORKING_DIRECTORY ${CPACK_TEMPORARY_DIRECTORY} COMMAND_ERROR_IS_FATAL ANY)
set(CPACK_EXTERNAL_BUILT_PACKAGES ${msi})
