# Images, template records and cipher, the matcher adapter, the extended and sensor-level calls.
target_sources(wgrpc_objects PRIVATE
  local/bitmap.cpp
  local/pixel_ops.cpp
  local/resample.cpp
  local/image_api.cpp
  local/size_call.cpp
  local/record_checksum.cpp
  local/blowfish.cpp
  local/blowfish_tables.cpp
  local/cipher.cpp
  local/template_record.cpp
  local/template_api.cpp
  local/matcher_adapter.cpp
  local/extended_calls.cpp
  local/sensor_calls.cpp
  local/template_objects.cpp
)
