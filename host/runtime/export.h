// Symbol visibility for the project's shared libraries. Everything is hidden
// by default (-fvisibility=hidden); what another library calls is marked NV_API.
#pragma once

#define NV_API __attribute__((visibility("default")))
