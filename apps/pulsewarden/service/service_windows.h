// What the service's installing and its running share.
#pragma once

inline constexpr char serviceName[] = "pulsewarden-watch";
inline constexpr char eventSourceName[] = "pulsewarden";

// The service process: the service control manager's side of watch.
// `argc`, `argv`: watch's arguments, as installed.
int runService(const char *invocationName, int argc, char **argv);
