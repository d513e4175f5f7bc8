# ccache, where it is installed and no launcher is chosen already: a build of
# sources compiled before (another clone, another branch, a clean build
# folder) takes them from the cache. Paths are hashed relative to the source
# tree, so clones elsewhere share the cache; the precompiled GoogleTest
# header is cached too (ccache needs the pch sloppiness for it).
# -DSKARVEL_CCACHE=OFF leaves it out.
option(SKARVEL_CCACHE "Compile through ccache where it is installed" ON)
if(SKARVEL_CCACHE AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
  find_program(SKARVEL_CCACHE_PROGRAM ccache)
  if(SKARVEL_CCACHE_PROGRAM)
    set(CMAKE_CXX_COMPILER_LAUNCHER
        ${CMAKE_COMMAND} -E env CCACHE_BASEDIR=${PROJECT_SOURCE_DIR} CCACHE_SLOPPINESS=pch_defines,time_macros
        ${SKARVEL_CCACHE_PROGRAM})
  endif()
endif()
