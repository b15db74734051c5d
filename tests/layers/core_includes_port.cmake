set(layer_name CalorimCore)
set(layer_files ${CMAKE_CURRENT_LIST_DIR}/core_includes_port.h)
set(layer_allowed core/ core/base/ core/platform/)
