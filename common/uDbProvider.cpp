// PLACEHOLDER: replaced by the real provider.
#include "uDbProvider.h"
