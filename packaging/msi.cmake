# Makes the Windows Installer package of a windows build with wixl, from packaging/Q417.wxs:
#   cmake [-DVERSION=x.y.z] [-DOUTPUT=file.msi] [-DSTAGE=folder [-DKEEP_STAGE=ON]] -P <build>/MsiPackage.cmake
# (tools/package runs it). The build's MsiPackage.cmake sets Q417_BUILD_DIR, Q417_VERSION,
# Q417_COMPANY, Q417_PRODUCT and Q417_ICON, then includes this file.
# VERSION defaults to the project's version, OUTPUT to <build>/packages/Q417-VERSION-win64.msi.
# The components are installed (stripped, as in the zip) into STAGE/programs and STAGE/sdk,
# <build>/msi-stage by default; with KEEP_STAGE the folder is packaged as it is (the upgrade test
# packages files of its own that way).
cmake_minimum_required(VERSION 3.25)

# The product line's upgrade code: fixed for good, so that every version upgrades the one before.
set(upgrade_code C0A122F6-996A-4D59-A675-C542A220E68B)

if(NOT VERSION)
  set(VERSION ${Q417_VERSION})
endif()
# Windows Installer compares the first three fields, each within these bounds.
if(NOT VERSION MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)$" OR CMAKE_MATCH_1 GREATER 255
   OR CMAKE_MATCH_2 GREATER 255 OR CMAKE_MATCH_3 GREATER 65535)
  message(FATAL_ERROR "an MSI version is major.minor.patch, at most 255.255.65535: \"${VERSION}\"")
endif()
if(NOT OUTPUT)
  set(OUTPUT ${Q417_BUILD_DIR}/packages/Q417-${VERSION}-win64.msi)
endif()

if(NOT STAGE)
  set(STAGE ${Q417_BUILD_DIR}/msi-stage)
endif()
if(NOT KEEP_STAGE)
  file(REMOVE_RECURSE ${STAGE})
  foreach(component programs sdk)
    execute_process(COMMAND ${CMAKE_COMMAND} --install ${Q417_BUILD_DIR} --component ${component}
                            --prefix ${STAGE}/${component} --strip
                    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  endforeach()
endif()

# One product code per version, the same for every build of it: a new version is a new product,
# which the package's major upgrade lets replace the older one.
string(UUID product_code NAMESPACE ${upgrade_code} NAME "Q417 ${VERSION}" TYPE SHA1 UPPER)

find_program(WIXL wixl)
if(NOT WIXL)
  message(FATAL_ERROR "wixl is missing (Debian package wixl)")
endif()
get_filename_component(output_dir ${OUTPUT} DIRECTORY)
file(MAKE_DIRECTORY ${output_dir})
# wixl finds its sources by relative names only: it runs in the stage, the icon is named from there.
file(RELATIVE_PATH icon ${STAGE} ${Q417_ICON})
execute_process(COMMAND ${WIXL} --arch x64 --output ${OUTPUT}
                  -D "Version=${VERSION}" -D "ProductCode=${product_code}" -D "UpgradeCode=${upgrade_code}"
                  -D "ProductName=${Q417_PRODUCT}" -D "Manufacturer=${Q417_COMPANY}"
                  -D "Programs=programs" -D "Sdk=sdk" -D "Icon=${icon}"
                  ${CMAKE_CURRENT_LIST_DIR}/Q417.wxs
                WORKING_DIRECTORY ${STAGE} COMMAND_ERROR_IS_FATAL ANY)
message("${OUTPUT}")
