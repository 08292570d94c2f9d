# Stand-in for cmake.mk: the package only adds options to this.
CMAKE_OPTIONS:=
