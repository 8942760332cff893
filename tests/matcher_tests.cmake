# The matcher library and the synthetic fingers it is measured on.
wg_add_test(matcher_test matcher/matcher_test.cpp matcher/probe_test.cpp LIBS bii_dll wg_fingers)
wg_add_test(fingers_test matcher/fingers_test.cpp LIBS wg_fingers)
