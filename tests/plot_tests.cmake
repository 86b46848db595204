# Plot object and graph data files; need no simulator and no display.
zetra_add_test(plot_graph_plotter
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/plot_graph_plotter.cpp
  LIBS zetra_plot
  LABELS plot
  TIMEOUT 120)
zetra_add_test(plot_graph_files
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/plot_graph_files.cpp
  LIBS zetra_plot
  LABELS plot
  TIMEOUT 120)
