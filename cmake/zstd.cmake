# zstd, the codec of packed runtimes. Two targets: talve::zstd (both
# directions, for the packers) and talve::zstd_decoder (the unpacker, which
# travels in every packed runtime and so carries no compressor).
#
# Linux links Debian's libzstd-dev statically: the unpacker must run where
# nothing is installed. The Windows programs compile the library here with
# MinGW-w64 from Debian's own source package, which scripts/setup.sh unpacks
# into TALVE_ZSTD_SOURCE_DIR, so both targets run the same zstd version and
# the packers write the same bytes.

if(MINGW)
  set(TALVE_ZSTD_SOURCE_DIR "/usr/local/src/talve-zstd" CACHE PATH
    "Debian's zstd source package, unpacked (scripts/setup.sh puts it there)")
  if(NOT EXISTS "${TALVE_ZSTD_SOURCE_DIR}/lib/zstd.h")
    message(FATAL_ERROR "No zstd source in ${TALVE_ZSTD_SOURCE_DIR}: run scripts/setup.sh "
      "(it unpacks Debian's zstd source package there), or set TALVE_ZSTD_SOURCE_DIR")
  endif()
  enable_language(C)
  set(zstd_lib "${TALVE_ZSTD_SOURCE_DIR}/lib")
  file(GLOB zstd_common_sources "${zstd_lib}/common/*.c")
  file(GLOB zstd_decompress_sources "${zstd_lib}/decompress/*.c")
  file(GLOB zstd_compress_sources "${zstd_lib}/compress/*.c")

  function(talve_zstd_library name)
    add_library(${name} STATIC ${ARGN})
    target_include_directories(${name} SYSTEM PUBLIC "${zstd_lib}")
    # The assembly decoder is x86-64 only; no legacy formats and no worker
    # threads: the packers compress one frame at a time for identical output.
    target_compile_definitions(${name} PRIVATE ZSTD_DISABLE_ASM XXH_NAMESPACE=ZSTD_ ZSTD_LEGACY_SUPPORT=0)
    # The same bytes from any build folder (scripts/check-reproducible.sh).
    target_compile_options(${name} PRIVATE -w -ffunction-sections -fdata-sections
      -ffile-prefix-map=${TALVE_ZSTD_SOURCE_DIR}=zstd -ffile-prefix-map=${PROJECT_BINARY_DIR}=build)
  endfunction()
  talve_zstd_library(talve_zstd_full ${zstd_common_sources} ${zstd_compress_sources} ${zstd_decompress_sources})
  # Error texts are never shown by the unpacker: leaving them out keeps it small.
  talve_zstd_library(talve_zstd_decode_only ${zstd_common_sources} ${zstd_decompress_sources})
  target_compile_definitions(talve_zstd_decode_only PRIVATE ZSTD_STRIP_ERROR_STRINGS)
  add_library(talve::zstd ALIAS talve_zstd_full)
  add_library(talve::zstd_decoder ALIAS talve_zstd_decode_only)
else()
  find_path(TALVE_ZSTD_INCLUDE_DIR zstd.h)
  find_library(TALVE_ZSTD_STATIC_LIBRARY NAMES libzstd.a)
  if(NOT TALVE_ZSTD_INCLUDE_DIR OR NOT TALVE_ZSTD_STATIC_LIBRARY)
    message(FATAL_ERROR "The static zstd library was not found: install libzstd-dev (scripts/setup.sh does)")
  endif()
  add_library(talve_zstd_static STATIC IMPORTED GLOBAL)
  set_target_properties(talve_zstd_static PROPERTIES IMPORTED_LOCATION "${TALVE_ZSTD_STATIC_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${TALVE_ZSTD_INCLUDE_DIR}")
  add_library(talve::zstd ALIAS talve_zstd_static)
  add_library(talve::zstd_decoder ALIAS talve_zstd_static)
endif()
