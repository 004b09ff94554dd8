# The two set-up commands of the README. Each installs what it needs first.
.PHONY: play test build dist studio fresh-check

play:
	bash scripts/install-deps.sh play
	bash scripts/play.sh

test:
	bash scripts/install-deps.sh test
	bash scripts/test.sh

build:
	cmake --preset default
	cmake --build --preset default

# The release archives of the demo story, made by bexu-pack: dist/*-windows.zip
# (32-bit player), dist/*-linux-x86_64.tar.gz (self-contained Linux player) and
# dist/*-web.zip (the web page).
dist:
	bash scripts/install-deps.sh dist
	bash scripts/dist.sh

# bexu studio, the author tools in a web page: the site folder build-web/studio/ with the
# players it exports, and build/bexu-studio, which serves it with a story on 127.0.0.1.
studio:
	bash scripts/install-deps.sh studio
	bash scripts/studio.sh

# The README's set-up on a Debian 12 root made anew, alone: the play command, then the
# test command's install and configure steps.
fresh-check:
	bash scripts/install-deps.sh test
	BEXU_ROOT="$(CURDIR)" BEXU_FRESH_TEST_SETUP=1 bash scripts/test.d/50-fresh-root.sh
