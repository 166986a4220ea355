#include "json_text.hpp"
