# The sample pictures: a folder "images" of cell pictures beside the
# executables and a demo source picture, made at build time by our own
# generator and remade only when the generator changes or a file is missing.
add_executable(tesserix-make-samples ${CMAKE_CURRENT_LIST_DIR}/make_samples.cpp)
target_link_libraries(tesserix-make-samples PRIVATE tesserix_core)

set(TESSERIX_SAMPLE_COUNT 160)
set(TESSERIX_SAMPLE_OUTPUTS ${CMAKE_BINARY_DIR}/sample-source.jpg)
math(EXPR last "${TESSERIX_SAMPLE_COUNT} - 1")
foreach(i RANGE 0 ${last})
  math(EXPR padded "1000 + ${i}")
  string(SUBSTRING ${padded} 1 3 padded)
  math(EXPR kind "${i} % 8")
  if(kind EQUAL 5)
    list(APPEND TESSERIX_SAMPLE_OUTPUTS ${CMAKE_BINARY_DIR}/images/sample_${padded}.bmp)
  else()
    list(APPEND TESSERIX_SAMPLE_OUTPUTS ${CMAKE_BINARY_DIR}/images/sample_${padded}.jpg)
  endif()
endforeach()

add_custom_command(
  OUTPUT ${TESSERIX_SAMPLE_OUTPUTS}
  COMMAND tesserix-make-samples ${CMAKE_BINARY_DIR}/images ${CMAKE_BINARY_DIR}/sample-source.jpg
          ${TESSERIX_SAMPLE_COUNT}
  DEPENDS tesserix-make-samples
  COMMENT "Making the sample pictures"
  VERBATIM)
add_custom_target(tesserix_samples ALL DEPENDS ${TESSERIX_SAMPLE_OUTPUTS})
