// A loadable library without the effect entry point.
extern "C" int NotAnEffect() { return 0; }
