"""The wheel carries a native library: it is a platform wheel (installed as platform-specific
files, tagged for the platform it was built on) for any Python 3, since ctypes needs no compiled
extension."""
from setuptools import Distribution, setup
from wheel.bdist_wheel import bdist_wheel


class NativeLibraryDistribution(Distribution):
    def has_ext_modules(self) -> bool:
        return True


class PlatformWheel(bdist_wheel):
    def get_tag(self):  # type: ignore[no-untyped-def]
        return "py3", "none", super().get_tag()[2]


setup(distclass=NativeLibraryDistribution, cmdclass={"bdist_wheel": PlatformWheel})
