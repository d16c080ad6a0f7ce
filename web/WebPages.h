#pragma once
// The pages' files, embedded at build time from web/page/ (see web/CMakeLists.txt): the station
// serves everything its pages need itself.

extern const char* const kStationPage;
extern const char* const kStationScript;
extern const char* const kLinePage;
extern const char* const kLineScript;
extern const char* const kPageStyle;
