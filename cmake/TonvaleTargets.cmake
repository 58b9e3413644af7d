# Shared build settings for every target of the project.

# The source folders, lowest layer first; tests/ mirrors them. A folder's
# library links only the folders below it.
set(TONVALE_FOLDERS
  core realtime timecode media platform
  backup engine controllers fileserver
  ui/common ui/mixer ui/tools ui/mainwindow
  app)

if(TONVALE_SANITIZE STREQUAL "address")
  # "undefined" leaves out float-cast-overflow: a double too large for the
  # integer it is cast to (a sample rate scaled past 32 bits) would go unseen.
  add_compile_options(-fsanitize=address,undefined,float-cast-overflow -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined,float-cast-overflow)
  add_link_options(-fsanitize=address,undefined,float-cast-overflow)
elseif(TONVALE_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT TONVALE_SANITIZE STREQUAL "")
  message(FATAL_ERROR "TONVALE_SANITIZE must be empty, 'address' or 'thread'")
endif()

# Warnings apply to our own code only, never to Qt's or GoogleTest's headers.
function(tonvale_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  # GCC 12 reports impossible memcpy overlaps inside std::string concatenation
  # at -O2 (a known false positive of that release).
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE -Wno-restrict)
  endif()
endfunction()

# tonvale_library(<name> SOURCES ... [PUBLIC_LIBS ...] [PRIVATE_LIBS ...] [QT])
# One static library per source folder; src/ is the include root for every
# header ("core/ConfigManager.h").
function(tonvale_library name)
  cmake_parse_arguments(L "QT" "" "SOURCES;PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
  add_library(${name} STATIC ${L_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${L_PUBLIC_LIBS} PRIVATE ${L_PRIVATE_LIBS})
  if(L_QT)
    set_target_properties(${name} PROPERTIES AUTOMOC ON)
  endif()
  tonvale_warnings(${name})
endfunction()
