// The tests build their dialog templates with the layer's own template maker.
#pragma once
#include "win32/dialog_template.h"

namespace dialog_test {
using TemplateBuilder = tavrin::win::DialogTemplate;
}  // namespace dialog_test
