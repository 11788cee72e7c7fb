// A colour-management library that lacks its conversion entry point: the
// driver must let it go and use the built-in halftone.
extern "C" __attribute__((visibility("default"))) int GetQuorvaVersion() { return 1; }
