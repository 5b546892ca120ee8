# Runs make_sample_volume into a scratch folder and checks the file against the
# layout it promises: 352-byte header, 256 x 256 x 64 int16 little-endian
# voxels, two volumes that differ.
#   cmake -DTOOL=<make_sample_volume> -DWORK_DIR=<scratch folder> -P make_sample_volume_test.cmake
cmake_minimum_required(VERSION 3.25)

set(header 352)
set(sliceBytes 131072) # 256 x 256 x 2
set(volumeBytes 8388608) # 64 slices

function(Fail message)
  message(FATAL_ERROR "make_sample_volume_test: ${message}")
endfunction()

# The voxel at (x, y, z) of a volume, read as signed little-endian 16 bits.
function(VoxelAt path volume x y z result)
  math(EXPR offset "${header} + ${volume} * ${volumeBytes} + ((${z} * 256 + ${y}) * 256 + ${x}) * 2")
  file(READ ${path} bytes OFFSET ${offset} LIMIT 2 HEX)
  string(SUBSTRING ${bytes} 0 2 low)
  string(SUBSTRING ${bytes} 2 2 high)
  math(EXPR value "0x${high}${low}")
  if(value GREATER_EQUAL 32768)
    math(EXPR value "${value} - 65536")
  endif()
  set(${result} ${value} PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
set(path ${WORK_DIR}/head_phantom.raw)

execute_process(COMMAND ${TOOL} ${path} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  Fail("exited with ${status}")
endif()

file(SIZE ${path} size)
math(EXPR expected "${header} + 2 * ${volumeBytes}")
if(NOT size EQUAL expected)
  Fail("size ${size}, expected ${expected}")
endif()

file(READ ${path} headerHex OFFSET 0 LIMIT ${header} HEX)
string(SUBSTRING ${headerHex} 702 2 lastHeaderByte)
if(NOT lastHeaderByte STREQUAL "00")
  Fail("header is not zero padded to ${header} bytes")
endif()

# Outside the head is empty; the centre of the head is white matter (900 with
# at most 20 of noise).
VoxelAt(${path} 0 0 0 0 corner)
VoxelAt(${path} 0 128 128 32 centre)
if(NOT corner EQUAL 0 OR centre LESS 880 OR centre GREATER 920)
  Fail("corner ${corner} and centre ${centre}: not a head phantom in the stated layout")
endif()

# The second time point must differ somewhere in the middle slice.
math(EXPR middleSlice "${header} + 32 * ${sliceBytes}")
math(EXPR middleSliceLater "${middleSlice} + ${volumeBytes}")
file(READ ${path} first OFFSET ${middleSlice} LIMIT ${sliceBytes} HEX)
file(READ ${path} later OFFSET ${middleSliceLater} LIMIT ${sliceBytes} HEX)
if(first STREQUAL later)
  Fail("volumes 0 and 1 have the same middle slice")
endif()

# A path that cannot be written must be reported as a failure.
execute_process(COMMAND ${TOOL} ${WORK_DIR}/no-such-folder/x.raw
                RESULT_VARIABLE status ERROR_VARIABLE errors)
if(status EQUAL 0 OR NOT errors MATCHES "cannot write")
  Fail("an unwritable path gave status ${status} and '${errors}'")
endif()

file(REMOVE_RECURSE ${WORK_DIR})
