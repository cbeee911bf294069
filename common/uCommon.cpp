// PLACEHOLDER: replaced by the real settings implementation.
#include "uCommon.h"
