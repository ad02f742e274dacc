# shellcheck shell=bash
# Sourced by build-windows.sh: SQLite and libpq for the Windows programs,
# cross-built with mingw-w64 from Debian's own source packages (Debian ships
# neither for mingw), static, and cached outside the repository by source
# version so that a second build reuses them.
#
# The versions are those of the Linux build's libsqlite3-0 and libpq5, so that
# both builds speak to the same library; when one is not installed, the version
# apt would install. FWUP_WIN_CACHE names the cache (default
# /var/cache/fwupgrader-win as root, else ~/.cache/fwupgrader-win).
#
# win_db_libs sets win_db_cmake_args to the cmake options that name them.

# Raised whenever the way a library is built here changes, so that a cache
# made the old way is not reused.
win_db_recipe=1

win_db_cache=${FWUP_WIN_CACHE:-}
if [ -z "$win_db_cache" ]; then
    if [ "$(id -u)" -eq 0 ]; then
        win_db_cache=/var/cache/fwupgrader-win
    else
        win_db_cache=${XDG_CACHE_HOME:-$HOME/.cache}/fwupgrader-win
    fi
fi

# apt-get source needs deb-src entries: a copy of the system's deb822 entries
# with Types deb-src, added once (as root, or through sudo).
win_db_deb_src() {
    if apt-get indextargets 2>/dev/null | grep -q '^Created-By: Sources'; then
        return 0
    fi
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
        $sudo tee /etc/apt/sources.list.d/fwupgrader-deb-src.sources >/dev/null
    $sudo apt-get update -qq
}

# The source version to build of the source package $1: that of the installed
# binary package $2, else the candidate.
win_db_version() {
    local version
    version=$(dpkg-query -W -f='${Version}' "$2" 2>/dev/null || true)
    if [ -z "$version" ]; then
        version=$(apt-cache showsrc "$1" | sed -n 's/^Version: //p' | sort -V | tail -n 1)
    fi
    printf '%s' "$version"
}

# Fetches and unpacks (Debian's patches applied) source package $1 at version
# $2 into the directory $3, which ends up holding the source tree only.
win_db_fetch() {
    local pkg=$1 version=$2 dest=$3 tmp
    tmp=$(mktemp -d "$win_db_cache/fetch.XXXXXX")
    (cd "$tmp" && apt-get source -qq --download-only "$pkg=$version" >/dev/null 2>&1) || {
        echo "build-windows.sh: apt-get source $pkg=$version failed (deb-src entries?)" >&2
        rm -rf "$tmp"
        return 1
    }
    # apt has checked the files against the signed archive index; the .dsc's own
    # signature would need Debian's keyrings, which a build machine lacks.
    (cd "$tmp" && dpkg-source -q --no-check -x ./*.dsc src >/dev/null)
    rm -rf "$dest"
    mv "$tmp/src" "$dest"
    rm -rf "$tmp"
}

# SQLite: the amalgamation (sqlite3.c) made from Debian's tree with the host's
# tclsh, then compiled once for mingw: thread-safe (the records writer thread
# and a window's thread both use it), with column metadata as Debian builds it,
# and without extension loading, which nothing here uses.
win_db_sqlite() {
    local version out src
    version=$(win_db_version sqlite3 libsqlite3-0)
    out=$win_db_cache/sqlite3-$version-r$win_db_recipe
    win_db_sqlite_dir=$out
    if [ -f "$out/done" ]; then
        echo "SQLite $version for Windows: cached in $out"
        return 0
    fi
    echo "SQLite $version for Windows: building into $out"
    rm -rf "$out"
    mkdir -p "$out/include" "$out/lib"
    src=$out/src
    win_db_fetch sqlite3 "$version" "$src"
    (cd "$src" && ./configure --disable-tcl >/dev/null && make -s sqlite3.c >/dev/null 2>&1)
    x86_64-w64-mingw32-gcc-posix -O2 -c "$src/sqlite3.c" -o "$out/sqlite3.o" \
        -DSQLITE_THREADSAFE=1 -DSQLITE_ENABLE_COLUMN_METADATA -DSQLITE_OMIT_LOAD_EXTENSION
    x86_64-w64-mingw32-ar rcs "$out/lib/libsqlite3.a" "$out/sqlite3.o"
    cp "$src/sqlite3.h" "$src/sqlite3ext.h" "$out/include/"
    rm -rf "$src" "$out/sqlite3.o"
    echo "$version" >"$out/done"
}

# libpq: PostgreSQL's client library with what it needs of src/common and
# src/port, configured for mingw without readline, zlib, ICU and OpenSSL (see
# docs/windows-install.md for sslmode). PostgreSQL's win32 build makes libpq a
# DLL; its objects go into one static archive instead.
win_db_libpq() {
    local version out src
    version=$(win_db_version postgresql-15 libpq5)
    out=$win_db_cache/libpq-$version-r$win_db_recipe
    win_db_libpq_dir=$out
    if [ -f "$out/done" ]; then
        echo "libpq $version for Windows: cached in $out"
        return 0
    fi
    echo "libpq $version for Windows: building into $out"
    rm -rf "$out"
    mkdir -p "$out/include" "$out/lib"
    src=$out/src
    win_db_fetch postgresql-15 "$version" "$src"
    (
        cd "$src"
        ./configure --host=x86_64-w64-mingw32 CC=x86_64-w64-mingw32-gcc-posix \
            --without-readline --without-zlib --without-icu --without-openssl \
            --without-gssapi --without-ldap >"$out/configure.log" 2>&1
        make -s -C src/include >/dev/null
        make -s -C src/common -j "$(nproc)" >/dev/null
        make -s -C src/port -j "$(nproc)" >/dev/null
        make -s -C src/interfaces/libpq -j "$(nproc)" >/dev/null
    ) || {
        echo "build-windows.sh: libpq $version did not build; see $out/configure.log" >&2
        return 1
    }
    x86_64-w64-mingw32-ar rcs "$out/lib/libpq.a" "$src"/src/interfaces/libpq/*.o
    win_db_private_pthreads "$out/lib/libpq.a"
    cp "$src/src/common/libpgcommon_shlib.a" "$src/src/port/libpgport_shlib.a" "$out/lib/"
    cp "$src/src/interfaces/libpq/libpq-fe.h" "$src/src/include/postgres_ext.h" \
        "$src/src/include/pg_config_ext.h" "$out/include/"
    rm -rf "$src"
    echo "$version" >"$out/done"
}

# libpq on win32 brings its own small pthread emulation (pthread-win32.c, with
# types of its own), whose names clash with mingw's winpthreads that the C++
# runtime links: libpq's copies and its calls of them get a prefix of their own.
win_db_private_pthreads() {
    local sym renames=()
    for sym in $(x86_64-w64-mingw32-nm --defined-only "$1" 2>/dev/null | sed -n 's/^[0-9a-f]* T \(pthread_[a-z_]*\)$/\1/p'); do
        renames+=(--redefine-sym "$sym=pq_$sym")
    done
    ((${#renames[@]})) && x86_64-w64-mingw32-objcopy "${renames[@]}" "$1"
    return 0
}

win_db_libs() {
    mkdir -p "$win_db_cache"
    win_db_deb_src
    win_db_sqlite
    win_db_libpq
    # shellcheck disable=SC2034 # read by build-windows.sh
    win_db_cmake_args=("-DFWUP_WIN_SQLITE_DIR=$win_db_sqlite_dir" "-DFWUP_WIN_LIBPQ_DIR=$win_db_libpq_dir")
}
