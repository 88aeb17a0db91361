# Writes a demo server's connect.ini: the settings (SETTINGS) with the two keys that let players'
# programs check the update (UPDATE) appended, computed from the update as built, so they never
# go stale. Run as: cmake -DSETTINGS=... -DUPDATE=... -DOUTPUT=... -P publish_keys.cmake
file(READ ${SETTINGS} settings)
file(SHA256 ${UPDATE} sha256)
file(SIZE ${UPDATE} size)
file(WRITE ${OUTPUT}.tmp "${settings}UpdateSHA256=${sha256}\nUpdateSize=${size}\n")
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
