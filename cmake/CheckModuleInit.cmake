# Refuses a module image whose objects carry static constructors.
#
#   cmake -DIMAGE=<module image> -DMAP=<its link map> -P CheckModuleInit.cmake
#
# The host maps a module with dlopen, which runs the image's constructors before
# ModImage_SymbolFixup has bound the host: a global that allocates (a std::vector or a
# std::string at namespace scope) reaches the unbound framework heap and takes the whole
# process down. The link map names every object file whose initialisers went into the image's
# .init_array. Allowed are the C runtime's own (crtbegin) and the sanitizers' (they carry an
# init priority, ".init_array.000NN"); any plain ".init_array" or ".ctors" input section is
# dynamic initialisation or a constructor function. On refusal the image is deleted, so it
# cannot ship, and the build fails naming the object files.
if(NOT DEFINED MAP OR NOT DEFINED IMAGE)
  message(FATAL_ERROR "usage: cmake -DIMAGE=<image> -DMAP=<link map> -P CheckModuleInit.cmake")
endif()
if(NOT EXISTS "${MAP}")
  message(FATAL_ERROR "CheckModuleInit: no link map \"${MAP}\"")
endif()

file(STRINGS "${MAP}" lines)
set(in_output_section FALSE)
set(pending FALSE)
set(offenders)
foreach(line IN LISTS lines)
  # Output sections start in column 0; input sections are indented.
  if(line MATCHES "^[^ \t]")
    if(line MATCHES "^\\.init_array([ \t]|$)" OR line MATCHES "^\\.ctors([ \t]|$)")
      set(in_output_section TRUE)
    else()
      set(in_output_section FALSE)
    endif()
    set(pending FALSE)
    continue()
  endif()
  if(NOT in_output_section)
    continue()
  endif()
  set(entry)
  if(pending)
    set(entry "${line}")
    set(pending FALSE)
  elseif(line MATCHES "^ (\\.init_array|\\.ctors)[ \t]*$")
    # The name alone: the address, size and file follow on the next line.
    set(pending TRUE)
    continue()
  elseif(line MATCHES "^ (\\.init_array|\\.ctors)[ \t]+(0x.*)$")
    set(entry "${CMAKE_MATCH_2}")
  endif()
  if(entry MATCHES "^[ \t]*0x[0-9a-fA-F]+[ \t]+(0x[0-9a-fA-F]+)[ \t]+(.+)$")
    set(size "${CMAKE_MATCH_1}")
    set(file "${CMAKE_MATCH_2}")
    string(STRIP "${file}" file)
    if(NOT size MATCHES "^0x0+$" AND NOT file MATCHES "crtbegin[^/]*\\.o$")
      list(APPEND offenders "${file}")
    endif()
  endif()
endforeach()

if(offenders)
  list(REMOVE_DUPLICATES offenders)
  list(JOIN offenders "\n  " named)
  file(REMOVE "${IMAGE}")
  get_filename_component(image_name "${IMAGE}" NAME)
  message(FATAL_ERROR
    "module image ${image_name} refused: static constructors in\n  ${named}\n"
    "They would run inside dlopen, before the host's symbols are bound, and a global that "
    "allocates aborts the process. Make the object constexpr/constinit, or create it on first use.")
endif()
