// The repaired database: one SQLite connection per save.
#pragma once

namespace veltrane {}
