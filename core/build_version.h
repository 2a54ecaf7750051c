#pragma once

// The project's version as CMake's project() gives it ("0.1"); any thread.
const char* QuoteloomVersion();
