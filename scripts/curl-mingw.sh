#!/usr/bin/env bash
# Builds libcurl as a static library for the Windows builds, from Debian's
# source package of the same curl the POSIX build links:
# build/curl/<triplet>/lib/libcurl.a and include/curl/*.h. Only SMTP (with
# its SASL logins and the MIME API for the message) is built in; TLS goes
# through Schannel, Windows' own, so the Windows program needs no DLL of its
# own and no CA file. Nothing of curl enters the source tree.
#   scripts/curl-mingw.sh [i686|x86_64]...   (default: both)
# Safe to run again: a library already built is kept.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
work=${FERRIN_CURL_DIR:-$root/build/curl}
arches=("$@")
[ ${#arches[@]} -gt 0 ] || arches=(i686 x86_64)

SUDO=
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi

src=$(ls -d "$work"/src/curl-*/ 2>/dev/null | head -n 1 || true)
if [ -z "$src" ] || [ ! -x "$src/configure" ]; then
  if ! apt-get source --print-uris curl >/dev/null 2>&1; then
    # Source lines for the release the machine runs, beside its binary lines.
    $SUDO tee /etc/apt/sources.list.d/ferrin-curl-src.sources >/dev/null <<SOURCES
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $(. /etc/os-release && echo "$VERSION_CODENAME")
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
    # A mirror of another suite caught mid-sync must not stop this one.
    $SUDO apt-get update -q || true
  fi
  rm -rf "$work/src"
  mkdir -p "$work/src"
  (cd "$work/src" && apt-get source -q curl)
  src=$(ls -d "$work"/src/curl-*/ | head -n 1)
fi
src=${src%/}

# Debian's backport of the limit on HTTP response headers has the reply
# reader of the line protocols (SMTP's too) call an HTTP function, which a
# build without HTTP lacks; curl's own release of that fix only counts the
# reply's bytes there, as this does.
pp=$src/lib/pingpong.c
if grep -q 'Curl_bump_headersize' "$pp"; then
  perl -0pi -e 's/result = Curl_bump_headersize\(data, gotbytes, FALSE\);\n\s*if\(result\)\n\s*return result;/data->req.headerbytecount += (unsigned int)gotbytes;/' "$pp"
  if grep -q 'Curl_bump_headersize' "$pp"; then
    echo "curl-mingw: $pp calls an HTTP function this build lacks" >&2
    exit 1
  fi
fi

# The release tarball's configure and Makefile.in are used as they are:
# Debian's patches change only C sources and Makefile.am (library names of
# its other TLS flavours), which configure leaves alone without
# --enable-maintainer-mode, so neither autoconf nor automake is needed.
# _WIN32_WINNT is the Windows version ferrin itself is built for, so that
# libcurl calls nothing newer.
options=(
  --disable-shared --enable-static --disable-maintainer-mode
  --disable-dependency-tracking --enable-silent-rules
  --with-schannel --without-ca-bundle --without-ca-path
  --enable-smtp --enable-mime
  --disable-http --disable-ftp --disable-file --disable-dict --disable-gopher
  --disable-imap --disable-pop3 --disable-ldap --disable-ldaps --disable-mqtt
  --disable-rtsp --disable-smb --disable-telnet --disable-tftp
  --disable-alt-svc --disable-hsts --disable-cookies --disable-doh
  --disable-websockets --disable-unix-sockets --disable-manual
  --disable-libcurl-option --disable-tls-srp --disable-ntlm-wb --disable-headers-api
  --disable-pthreads
  --without-zlib --without-brotli --without-zstd --without-nghttp2
  --without-libidn2 --without-winidn --without-libpsl --without-librtmp
  --without-libssh2 --without-libssh --without-wolfssh --without-libgsasl
  --without-hyper --without-ngtcp2 --without-nghttp3 --without-quiche
  --without-msh3
)

launcher=
if command -v ccache >/dev/null 2>&1; then launcher="ccache "; fi

# One arch: configure (which runs on one core for a minute) and the library.
build_arch() {
  local arch=$1 triplet out obj
  triplet=$arch-w64-mingw32
  out="$work/$triplet"
  if [ -f "$out/lib/libcurl.a" ] && [ -f "$out/include/curl/curl.h" ]; then return 0; fi
  obj="$out/obj"
  rm -rf "$obj"
  mkdir -p "$obj"
  if ! (cd "$obj" && "$src/configure" --host="$triplet" --prefix="$out" "${options[@]}" \
          CC="$launcher$triplet-gcc" CPPFLAGS="-D_WIN32_WINNT=0x0600" CFLAGS="-O2") \
       >"$obj/configure.out" 2>&1; then
    tail -n 40 "$obj/configure.out" >&2
    echo "curl-mingw: configure failed for $triplet (see $obj/config.log)" >&2
    return 1
  fi
  sed -n '/Configured to build/,$p' "$obj/configure.out"
  make -C "$obj/lib" -j2 libcurl.la >"$obj/make.out" 2>&1 || {
    tail -n 40 "$obj/make.out" >&2
    echo "curl-mingw: the library did not build for $triplet" >&2
    return 1
  }
  mkdir -p "$out/lib" "$out/include/curl"
  cp "$src"/include/curl/*.h "$out/include/curl/"
  cp "$obj/lib/.libs/libcurl.a" "$out/lib/libcurl.a.tmp"
  mv "$out/lib/libcurl.a.tmp" "$out/lib/libcurl.a"
  echo "Built $out/lib/libcurl.a"
}

# The arches side by side: each configure keeps one core busy.
pids=()
for arch in "${arches[@]}"; do
  build_arch "$arch" &
  pids+=($!)
done
rc=0
for pid in "${pids[@]}"; do wait "$pid" || rc=1; done
exit $rc
