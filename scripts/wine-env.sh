# Sourced by the build scripts: the private Wine prefix of this build folder.
# BUILD_DIR must be set to the absolute build folder.
export WINEPREFIX="$BUILD_DIR/wine"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
