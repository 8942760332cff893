# Images, template records and cipher.
find_package(OpenSSL REQUIRED)

wg_add_test(image_test local/image_test.cpp LIBS wgrpc_static)
wg_add_test(size_call_test local/size_call_test.cpp LIBS wgrpc_static)
wg_add_test(record_checksum_test local/record_checksum_test.cpp LIBS wgrpc_static)
wg_add_test(template_record_test local/template_record_test.cpp LIBS wgrpc_static)
# OpenSSL's Blowfish is the independent implementation the kit's cipher is held against.
wg_add_test(cipher_test local/cipher_test.cpp LIBS wgrpc_static OpenSSL::Crypto)

# The public header compiled as C, in both dialects applications use.
foreach(dialect 99 11)
  add_library(wg_public_header_c${dialect} OBJECT local/public_header_c.c)
  set_target_properties(wg_public_header_c${dialect} PROPERTIES
    C_STANDARD ${dialect} C_STANDARD_REQUIRED ON C_EXTENSIONS OFF)
  target_compile_definitions(wg_public_header_c${dialect} PRIVATE WG_C_DIALECT=C${dialect})
  target_compile_options(wg_public_header_c${dialect} PRIVATE -Wpedantic)
  target_link_libraries(wg_public_header_c${dialect} PRIVATE wgrpc_static)
endforeach()
wg_add_test(public_header_test local/public_header_test.cpp
  $<TARGET_OBJECTS:wg_public_header_c99> $<TARGET_OBJECTS:wg_public_header_c11>
  LIBS wgrpc_static)
