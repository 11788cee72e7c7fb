// rasterfilter: CUPS raster in, printer job out.
int main() { return 1; }
