# The product's sources that include no Windows headers: text parsing and
# cutting, and the trace message buffer. The DLL links them as kalvora_text;
# tests/fuzz compiles the same files natively for its fuzz targets.
set(KALVORA_TEXT_SOURCES
  module/RegistryScript.cpp
  module/Text.cpp
  collection/ImportRecord.cpp
  collection/DomainPath.cpp
  shares/ShareText.cpp
  diag/TraceBuffer.cpp
)
