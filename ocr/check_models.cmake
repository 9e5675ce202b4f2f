# Checks a folder of the neural recogniser's models against the lists beside this file,
# models.sha256 (sha256sum's format) and models.size (bytes, then the name): each model is a file
# there of its size and SHA-256. Stops with an error naming the first file that differs.
# scripts/setup runs it on the folder it fills; the package of the models, on the files it takes.
#   cmake -DDIR=<folder> [-DEXACT=ON] [-DLISTS=<prefix>] -P check_models.cmake
# EXACT also refuses any other file in the folder. LISTS names other lists, <prefix>.sha256 and
# <prefix>.size (the tests' own).

# Reads the lines "<value>  <name>" of `file` into <out>_names and <out>_<name> in the caller.
function(brevisfetch_read_model_list file value_pattern out)
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "ocr models: no list ${file}")
  endif()
  file(STRINGS "${file}" lines)
  set(names)
  foreach(line IN LISTS lines)
    # A name is a plain file name: no folder, so that no list reaches outside the folder.
    if(NOT line MATCHES "^(${value_pattern})  ([^/]+)$")
      message(FATAL_ERROR "ocr models: ${file}: not a line \"<value>  <name>\": ${line}")
    endif()
    set(value "${CMAKE_MATCH_1}")
    set(name "${CMAKE_MATCH_2}")
    if(name STREQUAL "." OR name STREQUAL "..")
      message(FATAL_ERROR "ocr models: ${file}: not a file name: ${line}")
    endif()
    list(APPEND names "${name}")
    set(${out}_${name} "${value}" PARENT_SCOPE)
  endforeach()
  set(${out}_names "${names}" PARENT_SCOPE)
endfunction()

# Stops with an error unless `dir` holds every model of the lists <lists>.sha256 and <lists>.size
# with its size and SHA-256 (and, when `exact` is true, nothing else).
function(brevisfetch_check_ocr_models dir lists exact)
  brevisfetch_read_model_list("${lists}.sha256" "[0-9a-f]+" hash)
  brevisfetch_read_model_list("${lists}.size" "[0-9]+" size)
  if(NOT hash_names STREQUAL size_names OR hash_names STREQUAL "")
    message(FATAL_ERROR "ocr models: ${lists}.sha256 and ${lists}.size list other files")
  endif()
  foreach(name IN LISTS hash_names)
    set(path "${dir}/${name}")
    if(NOT EXISTS "${path}" OR IS_DIRECTORY "${path}")
      message(FATAL_ERROR "ocr models: no model file ${path}")
    endif()
    # The size first: a file of another size is not hashed at all, however large.
    file(SIZE "${path}" size)
    if(NOT size EQUAL size_${name})
      message(FATAL_ERROR "ocr models: ${path} has ${size} bytes, not ${size_${name}}")
    endif()
    file(SHA256 "${path}" hash)
    if(NOT hash STREQUAL hash_${name})
      message(FATAL_ERROR "ocr models: ${path} has SHA-256 ${hash}, not ${hash_${name}}")
    endif()
  endforeach()
  if(exact)
    file(GLOB entries LIST_DIRECTORIES true RELATIVE "${dir}" "${dir}/*" "${dir}/.*")
    foreach(entry IN LISTS entries)
      # list(FIND), not IN_LIST: an install script runs this without the project's policies.
      list(FIND hash_names "${entry}" found)
      if(found EQUAL -1)
        message(FATAL_ERROR "ocr models: ${dir}/${entry} is not one of the models")
      endif()
    endforeach()
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  cmake_minimum_required(VERSION 3.25)
  if(NOT DEFINED DIR)
    message(FATAL_ERROR "Usage: cmake -DDIR=<folder> [-DEXACT=ON] [-DLISTS=<prefix>] -P "
                        "${CMAKE_CURRENT_LIST_FILE}")
  endif()
  if(NOT DEFINED LISTS)
    set(LISTS "${CMAKE_CURRENT_LIST_DIR}/models")
  endif()
  brevisfetch_check_ocr_models("${DIR}" "${LISTS}" "${EXACT}")
endif()
