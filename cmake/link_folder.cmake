# cmake -DLINK=<path> [-DTARGET=<folder>] -P link_folder.cmake
#
# Makes LINK a symbolic link to the folder FOLDER, so that whatever is put
# into FOLDER later shows through it too. It replaces an older link, and the
# folder of single-file links that earlier builds laid out; a real folder
# holding files of its own is left alone with a warning. Without a FOLDER,
# LINK becomes an empty folder of its own.
if(NOT LINK)
  message(FATAL_ERROR "link_folder.cmake: LINK is not set")
endif()
if(IS_SYMLINK "${LINK}")
  file(READ_SYMLINK "${LINK}" current)
  if(FOLDER AND current STREQUAL FOLDER)
    return()
  endif()
  file(REMOVE "${LINK}")
elseif(IS_DIRECTORY "${LINK}")
  if(NOT FOLDER)
    return()
  endif()
  file(GLOB entries LIST_DIRECTORIES true "${LINK}/*")
  foreach(entry IN LISTS entries)
    if(NOT IS_SYMLINK "${entry}")
      message(WARNING "${LINK} holds files of its own; it is kept instead of a link to ${FOLDER}")
      return()
    endif()
  endforeach()
  # Only links inside: removing the folder removes them, never what they name.
  file(REMOVE_RECURSE "${LINK}")
endif()
if(FOLDER)
  get_filename_component(parent "${LINK}" DIRECTORY)
  file(MAKE_DIRECTORY "${parent}")
  file(CREATE_LINK "${FOLDER}" "${LINK}" SYMBOLIC)
else()
  file(MAKE_DIRECTORY "${LINK}")
endif()
